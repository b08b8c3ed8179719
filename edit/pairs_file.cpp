#include "edit/pairs_file.h"

#include <algorithm>
#include <cstring>

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
                     std::string* message)
{
    const SegmentFileStatus status = read_commented_segment_file(name, segments, comments, message);
    // An editor's file may hold no pairs yet: every one was removed.
    if (status == SEGMENT_FILE_REFUSED)
        return false;
    // The heading is written afresh at every save.
    comments->erase(std::remove_if(comments->begin(), comments->end(),
                                   [](const SegmentComment& c) {
                                       return c.text.compare(0, std::strlen(HEADING_START), HEADING_START) == 0;
                                   }),
                    comments->end());
    return true;
}

void pairs_file_start(PairsFile* file, const EditModel* loaded)
{
    file->saved_text = pairs_file_text(loaded ? *loaded : EditModel(), file->heading);
}

bool pairs_file_save(PairsFile* file, const EditModel& model, bool force)
{
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
