#include "io/frame_pattern.h"

#include <cstdio>
#include <cstring>
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
