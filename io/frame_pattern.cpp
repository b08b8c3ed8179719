#include "io/frame_pattern.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

const int max_width = 255;

}  // namespace

bool frame_pattern_parse(const std::string& text, FramePattern* pattern, std::string* problem)
{
    *pattern = FramePattern();
    bool found = false;
    std::string literal;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            literal += text[i];
            continue;
        }
        const size_t start = i++;
        if (i < text.size() && text[i] == '%') {
            literal += '%';
            continue;
        }
        while (i < text.size() && std::strchr("-+ 0", text[i]))
            ++i;
        int width = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && width <= max_width)
            width = width * 10 + (text[i++] - '0');
        if (width > max_width) {
            *problem = "the frame number field's width is over " + std::to_string(max_width);
            return false;
        }
        if (i == text.size()) {
            *problem = "'" + text.substr(start) + "' at the end is not a frame number field (use %d, or %% for a percent sign)";
            return false;
        }
        if (!std::strchr("diu", text[i])) {
            *problem = "'" + text.substr(start, i + 1 - start)
                       + "' is not a frame number field (use %d with flags and a width, such as %03d, or %% for a percent sign)";
            return false;
        }
        if (found) {
            *problem = "more than one frame number field";
            return false;
        }
        found = true;
        pattern->before = literal;
        literal.clear();
        // %u prints an int as %d does for the numbers a frame can have.
        pattern->field = text.substr(start, i - start) + (text[i] == 'u' ? 'd' : text[i]);
    }
    if (!found) {
        *problem = "no frame number field such as %d or %03d";
        return false;
    }
    pattern->after = literal;
    return true;
}

std::string frame_pattern_name(const FramePattern& pattern, int number)
{
    std::vector<char> digits(max_width + 32);
    std::snprintf(digits.data(), digits.size(), pattern.field.c_str(), number);
    return pattern.before + digits.data() + pattern.after;
}

bool frame_pattern_number(const FramePattern& pattern, const std::string& name, int* number)
{
    const size_t fixed = pattern.before.size() + pattern.after.size();
    if (name.size() <= fixed || name.size() > fixed + max_width + 16
        || name.compare(0, pattern.before.size(), pattern.before) != 0 || name.compare(name.size() - pattern.after.size(), std::string::npos, pattern.after) != 0)
        return false;
    // Whatever the flags put around the digits (blanks, a sign, zeros), the
    // name must come back when the number is printed again.
    const std::string digits = name.substr(pattern.before.size(), name.size() - fixed);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.c_str(), &end, 10);
    if (end == digits.c_str() || errno == ERANGE || value < INT_MIN || value > INT_MAX
        || frame_pattern_name(pattern, static_cast<int>(value)) != name)
        return false;
    *number = static_cast<int>(value);
    return true;
}

std::vector<int> frame_pattern_existing(const FramePattern& pattern, int from, long max_entries)
{
    namespace fs = std::filesystem;
    // The folder part before the field, the entry that holds the field, and
    // any path after that entry (when the number names a folder).
    const size_t slash = pattern.before.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : pattern.before.substr(0, slash + 1);
    const size_t rest_at = pattern.after.find('/');
    const std::string rest = rest_at == std::string::npos ? "" : pattern.after.substr(rest_at);
    std::vector<int> numbers;
    std::error_code error;
    fs::directory_iterator entries(folder.empty() ? "." : folder, error);
    for (long seen = 0; !error && entries != fs::directory_iterator() && seen < max_entries;
         entries.increment(error), ++seen) {
        const std::string name = folder + entries->path().filename().string() + rest;
        int number;
        std::error_code missing;
        if (frame_pattern_number(pattern, name, &number) && number >= from
            && (rest.empty() || fs::exists(fs::symlink_status(name, missing))))
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}
