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
// takes a file without segments as no pairs, and an odd count as pairs with
// the last segment waiting for its second. Comment and blank lines (other
// than headings this program wrote) go to *comments, each before the
// segment it preceded; the first such heading to *heading when not NULL
// (else it is left empty). False with *message.
bool load_pairs_file(const char* name, std::vector<Segment>* segments, std::vector<SegmentComment>* comments,
                     std::string* message, std::string* heading = nullptr);

// Whether a heading read from a pairs file names these images in this mode,
// the folders of each name aside (the file may be opened from elsewhere).
bool heading_names_images(const std::string& heading, EditMode mode, const std::string& first,
                          const std::string& second);

// What is odd about the pairs file `name` as loaded for images of w x h:
// its heading (when it has one) names other images, no segment touches the
// images, its last segment waits for its second. Each line is ready to
// print after "PROGRAM: warning: ".
std::vector<std::string> pairs_file_warnings(const std::string& name, const std::string& heading,
                                             const std::vector<Segment>& segments, EditMode mode,
                                             const std::string& first, const std::string& second, int w, int h);

// Its name, its heading, and what it holds as far as this program knows (a
// missing file counts as holding no pairs, so a first segment alone does
// not make it).
struct PairsFile {
    std::string name;
    std::string heading;
    std::string saved_text;
    bool saved = false;   // written at least once
    bool failed = false;  // the last write failed: the next change or a forced save tries again
    // Loaded with its last segment waiting: nothing is written while one
    // waits, so that the file keeps that segment until its pair is whole.
    bool holding = false;
    std::string problem;  // why, "NAME: PROBLEM"
};

// Starts keeping the file: `model` as loaded, or NULL when the file does not
// exist; holding when the loaded model has a segment waiting.
void pairs_file_start(PairsFile* file, const EditModel* loaded);

// Writes the model's pairs when they differ from what the file holds, after
// a failed write, or when forced, unless holding and a segment still
// waits (once none does, holding ends). True when something was written; false
// with file->failed and file->problem set when a write failed (the model is
// untouched either way). Each write is atomic (io/output_file) and checks
// the file again first, so a file made read-only meanwhile is refused.
bool pairs_file_save(PairsFile* file, const EditModel& model, bool force);
