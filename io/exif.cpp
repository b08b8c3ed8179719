#include "io/exif.h"

#include <algorithm>
#include <cstdint>

namespace {

enum {
    TAG_ORIENTATION = 0x0112,
    TAG_EXIF_IFD = 0x8769,
    TAG_GPS_IFD = 0x8825,
    TAG_INTEROP_IFD = 0xA005,
    TAG_THUMBNAIL_OFFSET = 0x0201,
    TAG_THUMBNAIL_LENGTH = 0x0202,
    TYPE_SHORT = 3,
    ENTRY_SIZE = 12,
};

struct Tiff {
    const unsigned char* p;
    size_t n;
    bool little;  // "II": least significant byte first
};

bool read16(const Tiff& t, uint64_t at, uint32_t* v)
{
    if (at > t.n || t.n - at < 2)
        return false;
    const unsigned char* q = t.p + at;
    *v = t.little ? (q[0] | q[1] << 8) : (q[0] << 8 | q[1]);
    return true;
}

bool read32(const Tiff& t, uint64_t at, uint32_t* v)
{
    uint32_t a, b;
    if (!read16(t, at, &a) || !read16(t, at + 2, &b))
        return false;
    *v = t.little ? (a | b << 16) : (a << 16 | b);
    return true;
}

void write16(const Tiff& t, unsigned char* q, uint32_t v)
{
    q[t.little ? 0 : 1] = static_cast<unsigned char>(v);
    q[t.little ? 1 : 0] = static_cast<unsigned char>(v >> 8);
}

void write32(const Tiff& t, unsigned char* q, uint32_t v)
{
    write16(t, q + (t.little ? 0 : 2), v & 0xFFFF);
    write16(t, q + (t.little ? 2 : 0), v >> 16);
}

// The TIFF header: byte order, 42, and the offset of IFD0.
bool read_header(const unsigned char* p, size_t n, Tiff* t, uint32_t* ifd0)
{
    if (n < 8)
        return false;
    if (p[0] == 'I' && p[1] == 'I')
        t->little = true;
    else if (p[0] == 'M' && p[1] == 'M')
        t->little = false;
    else
        return false;
    t->p = p;
    t->n = n;
    uint32_t magic;
    return read16(*t, 2, &magic) && magic == 42 && read32(*t, 4, ifd0);
}

// The number of entries of the IFD at `at`, when all of them lie inside the block.
bool entry_count(const Tiff& t, uint32_t at, uint32_t* count)
{
    return read16(t, at, count) && uint64_t(at) + 2 + uint64_t(ENTRY_SIZE) * *count <= t.n;
}

// Bytes of one value of TIFF types 1 to 13 (13: an IFD offset); 0 for others.
uint64_t type_size(uint32_t type)
{
    static const unsigned char sizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < 14 ? sizes[type] : 0;
}

struct Range {
    uint64_t begin, end;
};

struct Entry {
    uint32_t tag, type, count;
    uint64_t at;  // of the entry itself
};

bool read_entry(const Tiff& t, uint32_t ifd, uint32_t i, Entry* e)
{
    e->at = uint64_t(ifd) + 2 + uint64_t(ENTRY_SIZE) * i;
    return read16(t, e->at, &e->tag) && read16(t, e->at + 2, &e->type) && read32(t, e->at + 4, &e->count);
}

// The bytes an IFD occupies: its entries, its next-IFD link, and every
// value too large to sit in an entry that lies inside the block. With
// `follow`, the Exif, GPS and interoperability IFDs it points to as well.
void ifd_ranges(const Tiff& t, uint32_t ifd, bool follow, int depth, std::vector<Range>* ranges,
                Range* thumbnail = nullptr)
{
    uint32_t count;
    if (depth > 2 || !entry_count(t, ifd, &count))
        return;
    ranges->push_back({ifd, std::min<uint64_t>(uint64_t(ifd) + 2 + uint64_t(ENTRY_SIZE) * count + 4, t.n)});
    uint32_t thumb_offset = 0, thumb_length = 0;
    int followed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        uint32_t value;
        if (!read_entry(t, ifd, i, &e) || !read32(t, e.at + 8, &value))
            continue;
        const uint64_t size = type_size(e.type) * e.count;
        if (size > 4 && value <= t.n && size <= t.n - value)
            ranges->push_back({value, value + size});
        // Each kind of sub-IFD once: repeated links cannot multiply the work.
        const int kind = e.tag == TAG_EXIF_IFD ? 1 : e.tag == TAG_GPS_IFD ? 2 : e.tag == TAG_INTEROP_IFD ? 4 : 0;
        if (follow && kind && !(followed & kind) && e.count == 1 && size == 4) {
            followed |= kind;
            ifd_ranges(t, value, true, depth + 1, ranges);
        }
        if (e.tag == TAG_THUMBNAIL_OFFSET && size == 4)
            thumb_offset = value;
        if (e.tag == TAG_THUMBNAIL_LENGTH && size == 4)
            thumb_length = value;
    }
    if (thumbnail && thumb_length > 0 && thumb_offset <= t.n && thumb_length <= t.n - thumb_offset)
        *thumbnail = {thumb_offset, uint64_t(thumb_offset) + thumb_length};
}

}  // namespace

int exif_orientation(const unsigned char* tiff, size_t size)
{
    Tiff t;
    uint32_t ifd0, count;
    if (!read_header(tiff, size, &t, &ifd0) || !entry_count(t, ifd0, &count))
        return 1;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        uint32_t value;
        if (read_entry(t, ifd0, i, &e) && e.tag == TAG_ORIENTATION && e.type == TYPE_SHORT && e.count == 1
            && read16(t, e.at + 8, &value) && value >= 1 && value <= 8)
            return static_cast<int>(value);
    }
    return 1;
}

bool exif_for_result(const unsigned char* tiff, size_t size, std::vector<unsigned char>* out)
{
    out->clear();
    Tiff t;
    uint32_t ifd0, count;
    if (!read_header(tiff, size, &t, &ifd0) || !entry_count(t, ifd0, &count))
        return false;
    out->assign(tiff, tiff + size);
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (read_entry(t, ifd0, i, &e) && e.tag == TAG_ORIENTATION && e.type == TYPE_SHORT && e.count == 1)
            write16(t, out->data() + e.at + 8, 1);
    }
    // IFD1, the thumbnail's, is linked from the end of IFD0.
    const uint64_t link = uint64_t(ifd0) + 2 + uint64_t(ENTRY_SIZE) * count;
    uint32_t ifd1;
    if (!read32(t, link, &ifd1) || ifd1 == 0)
        return true;
    write32(t, out->data() + link, 0);
    std::vector<Range> rest = {{0, 8}}, thumbnail;
    ifd_ranges(t, ifd0, true, 0, &rest);
    Range data = {0, 0};
    ifd_ranges(t, ifd1, false, 0, &thumbnail, &data);
    if (data.end > data.begin)
        thumbnail.push_back(data);
    if (thumbnail.empty())
        return true;
    uint64_t rest_end = 0, thumbnail_begin = size;
    for (const Range& r : rest)
        rest_end = std::max(rest_end, r.end);
    for (const Range& r : thumbnail)
        thumbnail_begin = std::min(thumbnail_begin, r.begin);
    if (thumbnail_begin >= rest_end) {
        out->resize(static_cast<size_t>(thumbnail_begin));
        return true;
    }
    // Something the rest needs lies after the thumbnail: its bytes are zeroed in place.
    for (const Range& r : thumbnail)
        std::fill(out->begin() + static_cast<std::ptrdiff_t>(r.begin), out->begin() + static_cast<std::ptrdiff_t>(r.end),
                  0);
    return true;
}
