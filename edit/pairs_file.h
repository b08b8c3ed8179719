// The pairs file as the editor keeps it: the heading comment naming the
// image(s), then the complete pairs one segment a line with the kept
// comments where they stood, read and written by io/segment_file.
#pragma once
#include <string>
#include <vector>

#include "edit/model.h"
#include "io/segment_file.h"

// The heading comment naming the image(s), as one line of text (see
// segment_file_text).
std::string pairs_heading(EditMode mode, const std::string& first, const std::string& second);

// Reads the pairs file `name` as tavrosk-warp does (the same messages), but
// takes a file without segments as no pairs. Comment and blank lines (other
// than headings this program wrote) go to *comments, each before the
// segment it preceded. False with *message.
bool load_pairs_file(const char* name, std::vector<Segment>* segments, std::vector<SegmentComment>* comments,
                     std::string* message);

// Its name, its heading, and what it holds as far as this program knows (a
// missing file counts as holding no pairs, so a first segment alone does
// not make it).
struct PairsFile {
    std::string name;
    std::string heading;
    std::string saved_text;
    bool saved = false;   // written at least once
    bool failed = false;  // the last write failed: the next change or a forced save tries again
    std::string problem;  // why, "NAME: PROBLEM"
};

// Starts keeping the file: `model` as loaded, or NULL when the file does not exist.
void pairs_file_start(PairsFile* file, const EditModel* loaded);

// Writes the model's pairs when they differ from what the file holds, after
// a failed write, or when forced. True when something was written; false
// with file->failed and file->problem set when a write failed (the model is
// untouched either way). Each write is atomic (io/output_file) and checks
// the file again first, so a file made read-only meanwhile is refused.
bool pairs_file_save(PairsFile* file, const EditModel& model, bool force);
