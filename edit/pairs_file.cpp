#include "edit/pairs_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

static const char* const HEADING_START = "# tavrosk-edit:";

// The whole file for `model`.
static std::string pairs_file_text(const EditModel& model, const std::string& heading)
{
    std::string text = heading + "\n";
    const int complete = pair_count(model) * 2;
    auto comments_before = [&](int i, bool last) {
        for (const SegmentComment& c : model.comments)
            if (c.before == i || (last && c.before > i))
                text += c.text + "\n";
    };
    for (int i = 0; i < complete; ++i) {
        comments_before(i, false);
        text += segment_line(model.segments[i]) + "\n";
    }
    comments_before(complete, true);
    return text;
}

std::string pairs_heading(EditMode mode, const std::string& first, const std::string& second)
{
    // A file name may hold any byte but NUL; the heading stays one line of text.
    if (mode == EDIT_WARP)
        return std::string(HEADING_START) + " warp pairs for " + segment_file_text(first);
    return std::string(HEADING_START) + " morph pairs from " + segment_file_text(first) + " to "
         + segment_file_text(second);
}

bool load_pairs_file(const char* name, std::vector<Segment>* segments, std::vector<SegmentComment>* comments,
                     std::string* message, std::string* heading)
{
    const SegmentFileStatus status = read_commented_segment_file(name, segments, comments, message);
    // An editor's file may hold no pairs yet (every one was removed), or a
    // pair's first segment alone, left there to be given its second.
    if (status == SEGMENT_FILE_REFUSED)
        return false;
    auto is_heading = [](const SegmentComment& c) {
        return c.text.compare(0, std::strlen(HEADING_START), HEADING_START) == 0;
    };
    if (heading) {
        const auto found = std::find_if(comments->begin(), comments->end(), is_heading);
        *heading = found == comments->end() ? std::string() : found->text;
    }
    // The heading is written afresh at every save.
    comments->erase(std::remove_if(comments->begin(), comments->end(), is_heading), comments->end());
    return true;
}

static std::string without_folders(const std::string& name)
{
    return std::filesystem::path(name).filename().string();
}

bool heading_names_images(const std::string& heading, EditMode mode, const std::string& first,
                          const std::string& second)
{
    if (heading == pairs_heading(mode, first, second))
        return true;
    // The names as the heading holds them: after the words, and for a morph
    // on either side of some " to " (a name may hold one itself).
    const std::string words = pairs_heading(mode, "", "");
    const std::string start = mode == EDIT_WARP ? words : words.substr(0, words.size() - std::strlen(" to "));
    if (heading.compare(0, start.size(), start) != 0)
        return false;
    const std::string names = heading.substr(start.size());
    const std::string want_first = without_folders(segment_file_text(first));
    if (mode == EDIT_WARP)
        return without_folders(names) == want_first;
    const std::string want_second = without_folders(segment_file_text(second));
    for (size_t at = names.find(" to "); at != std::string::npos; at = names.find(" to ", at + 1))
        if (without_folders(names.substr(0, at)) == want_first && without_folders(names.substr(at + 4)) == want_second)
            return true;
    return false;
}

std::vector<std::string> pairs_file_warnings(const std::string& name, const std::string& heading,
                                             const std::vector<Segment>& segments, EditMode mode,
                                             const std::string& first, const std::string& second, int w, int h)
{
    std::vector<std::string> warnings;
    if (!heading.empty() && !heading_names_images(heading, mode, first, second))
        warnings.push_back(name + ": made for other images (" + heading.substr(std::strlen(HEADING_START) + 1) + ")");
    if (!segments.empty()
        && std::none_of(segments.begin(), segments.end(), [&](const Segment& s) { return segment_touches(s, w, h); }))
        warnings.push_back(name + ": no segment touches the " + std::to_string(w) + " x " + std::to_string(h)
                           + " image");
    if (segments.size() % 2 != 0)
        warnings.push_back(name + ": its last segment waits for its second; nothing is saved until it has one");
    return warnings;
}

void pairs_file_start(PairsFile* file, const EditModel* loaded)
{
    file->saved_text = pairs_file_text(loaded ? *loaded : EditModel(), file->heading);
    file->holding = loaded && pair_pending(*loaded);
}

bool pairs_file_save(PairsFile* file, const EditModel& model, bool force)
{
    file->holding = file->holding && pair_pending(model);
    if (file->holding)
        return false;
    const std::string text = pairs_file_text(model, file->heading);
    if (!force && !file->failed && text == file->saved_text)
        return false;
    file->failed = !write_segment_file(file->name, text, &file->problem);
    if (file->failed)
        return false;
    file->saved_text = text;
    file->saved = true;
    return true;
}
