// Scatter-gather lists: copy between lists, views from an offset, totals.
//
// Every function walks a list the same way, so one cursor does it: it holds
// the current array, that array's count and the index within it, and steps
// to the next data entry, following links and passing over kinds 2 and 3.
// The copy runs two cursors side by side, one over the source and one over
// the destination, and moves as many bytes per memcpy as both current
// entries allow, so a list of large blocks costs one call per block.
#include "zub/scattergather.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using Entry = zubScatterGatherEntry_t;

uint32_t kind_of(const Entry &e)
{
    return e.lengthAndKind >> 30;
}

uint32_t length_of(const Entry &e)
{
    return e.lengthAndKind & ZUB_SG_LENGTH_MASK;
}

Entry make_entry(uint32_t kind, const void *data, uint32_t length)
{
    Entry e;
    e.data = const_cast<void *>(data);
    e.lengthAndKind = ZUB_SG_WORD(kind, length);
    return e;
}

// Walks a list one data entry at a time. Before the first step index is -1;
// after the list ran off the end of an array it equals that array's count,
// and after it ended at a link with a null pointer or a count of 0 it is
// that link's index. E is Entry for a list whose entries are written (the
// copy's destination) and const Entry otherwise.
template <typename E> class Cursor {
public:
    Cursor(E *array, int32_t count) : array_(array), count_(count) {}

    // Moves to the next data entry (empty ones included); false at the end
    // of the list, which stays the end.
    bool next()
    {
        if (ended_) {
            return false;
        }
        for (;;) {
            ++index_;
            if (index_ >= count_) {
                index_ = count_;
                ended_ = true;
                return false;
            }
            const E &e = array_[index_];
            const uint32_t kind = kind_of(e);
            if (kind == ZUB_SG_KIND_DATA) {
                return true;
            }
            if (kind == ZUB_SG_KIND_LINK) {
                const uint32_t count = length_of(e);
                if (e.data == nullptr || count == 0) {
                    ended_ = true;
                    return false;
                }
                array_ = static_cast<E *>(e.data);
                count_ = static_cast<int32_t>(count);
                index_ = -1;
            }
            // Kinds 2 and 3 are passed over.
        }
    }

    E &entry() const { return array_[index_]; }
    uint32_t length() const { return length_of(array_[index_]); }
    uint8_t *block() const { return static_cast<uint8_t *>(array_[index_].data); }
    E *array() const { return array_; }
    int32_t index() const { return index_; }
    int32_t count() const { return count_; }

private:
    E *array_;
    int32_t count_;
    int32_t index_ = -1;
    bool ended_ = false;
};

uint32_t copy_single(Entry &destination, int32_t *destinationCount, const Entry &source,
                     uint32_t offset, zubScatterGatherCopyState_t *state)
{
    const uint32_t sourceLength = length_of(source);
    if (sourceLength <= offset) {
        return 0;
    }
    const uint32_t n = std::min(length_of(destination), sourceLength - offset);
    if (n != 0) {
        std::memcpy(destination.data, static_cast<const uint8_t *>(source.data) + offset, n);
    }
    destination.lengthAndKind = ZUB_SG_WORD(ZUB_SG_KIND_DATA, n);
    if (destinationCount != nullptr) {
        *destinationCount = 1;
    }
    if (state != nullptr) {
        *state = {0, n, 0, offset + n, n};
    }
    return n;
}

uint32_t copy_lists(Entry *destination, int32_t *destinationCount, int32_t count,
                    const Entry *source, int32_t sourceCount, uint32_t offset,
                    zubScatterGatherCopyState_t *state)
{
    Cursor<const Entry> src(source, sourceCount);
    Cursor<Entry> dst(destination, count);
    uint32_t p = offset; // position in the current source entry
    uint32_t q = 0;      // position in the current destination entry
    uint32_t sourceLength = 0;
    uint32_t destinationLength = 0;
    uint32_t total = 0;
    bool destinationEnded = false;
    for (;;) {
        // Skip source entries that end at or before p; the part of the
        // offset they cover is used up on the way.
        bool sourceEnded = false;
        while (sourceLength <= p) {
            p -= sourceLength;
            if (!src.next()) {
                sourceEnded = true;
                break;
            }
            sourceLength = src.length();
        }
        if (sourceEnded) {
            break;
        }
        // Move on past full (or empty) destination entries.
        while (destinationLength <= q) {
            q -= destinationLength;
            if (!dst.next()) {
                destinationEnded = true;
                break;
            }
            destinationLength = dst.length();
        }
        if (destinationEnded) {
            break;
        }
        const uint32_t k = std::min(sourceLength - p, destinationLength - q);
        std::memcpy(dst.block() + q, src.block() + p, k);
        p += k;
        q += k;
        total += k;
    }
    if (state != nullptr) {
        *state = {dst.index(), q, src.index(), p, total};
    }
    if (destinationEnded) {
        *destinationCount = dst.count();
    } else if (dst.index() >= 0) {
        // The entry being filled when the source ran out: cut it to what it got.
        *destinationCount = dst.index() + 1;
        dst.entry().lengthAndKind = ZUB_SG_WORD(ZUB_SG_KIND_DATA, q);
    } else {
        *destinationCount = 0;
    }
    return total;
}

uint32_t copy(Entry *destination, int32_t *destinationCount, const Entry *source,
              int32_t sourceCount, uint32_t offset, zubScatterGatherCopyState_t *state)
{
    int32_t count = 0;
    if (destinationCount != nullptr && destination != nullptr) {
        count = *destinationCount;
    }
    if (source == nullptr) {
        sourceCount = 0;
    }
    if (sourceCount == 1 && count == 1 && kind_of(source[0]) == ZUB_SG_KIND_DATA &&
        kind_of(destination[0]) == ZUB_SG_KIND_DATA) {
        return copy_single(destination[0], destinationCount, source[0], offset, state);
    }
    if (count <= 0 || sourceCount <= 0) {
        if (state != nullptr) {
            *state = {0, 0, 0, 0, 0};
        }
        if (destinationCount != nullptr) {
            *destinationCount = 0;
        }
        return 0;
    }
    return copy_lists(destination, destinationCount, count, source, sourceCount, offset, state);
}

int32_t create_list_from(Entry *result, int32_t *resultCount, const Entry *source,
                         int32_t sourceCount, uint32_t offset)
{
    const int32_t room = *resultCount;
    if (offset == 0) {
        if (room < 1) {
            return ZUB_EINVAL;
        }
        result[0] = make_entry(ZUB_SG_KIND_LINK, source, static_cast<uint32_t>(sourceCount));
        *resultCount = 1;
        return 0;
    }
    Cursor<const Entry> walk(source, sourceCount);
    uint64_t pos = 0; // where the current entry starts in the list's data
    while (walk.next()) {
        const uint32_t length = walk.length();
        if (offset >= pos + length) {
            pos += length;
            continue;
        }
        const Entry *array = walk.array();
        const auto i = static_cast<uint32_t>(walk.index());
        const auto n = static_cast<uint32_t>(walk.count());
        if (offset == pos) {
            if (room < 1) {
                return ZUB_EINVAL;
            }
            result[0] = make_entry(ZUB_SG_KIND_LINK, array + i, n - i);
            *resultCount = 1;
            return 0;
        }
        const auto skip = static_cast<uint32_t>(offset - pos);
        const Entry tail = make_entry(ZUB_SG_KIND_DATA, walk.block() + skip, length - skip);
        if (i + 1 == n) {
            if (room < 1) {
                return ZUB_EINVAL;
            }
            result[0] = tail;
            *resultCount = 1;
            return 0;
        }
        if (room < 2) {
            return ZUB_EINVAL;
        }
        result[0] = tail;
        result[1] = make_entry(ZUB_SG_KIND_LINK, array + i + 1, n - (i + 1));
        *resultCount = 2;
        return 0;
    }
    *resultCount = 0;
    return pos == offset ? 0 : ZUB_ENOENT;
}

uint32_t total_length(const Entry *entries, int32_t count)
{
    Cursor<const Entry> walk(entries, count);
    uint32_t total = 0;
    while (walk.next()) {
        total += walk.length();
    }
    return total;
}

} // namespace

extern "C" {

uint32_t zubCopyScatterGather(zubScatterGatherEntry_t *destination, int32_t *destinationCount,
                              const zubScatterGatherEntry_t *source, int32_t sourceCount,
                              uint32_t offset, zubScatterGatherCopyState_t *state)
{
    return copy(destination, destinationCount, source, sourceCount, offset, state);
}

uint32_t zubReadScatterGatherPart(zubScatterGatherEntry_t *destination, int32_t destinationCount,
                                  const zubScatterGatherEntry_t *source, int32_t sourceCount,
                                  uint32_t offset)
{
    return copy(destination, &destinationCount, source, sourceCount, offset, nullptr);
}

int32_t zubScatterGatherCreateListFrom(zubScatterGatherEntry_t *result, int32_t *resultCount,
                                       const zubScatterGatherEntry_t *source, int32_t sourceCount,
                                       uint32_t offset)
{
    if (result == nullptr || resultCount == nullptr) {
        return ZUB_EINVAL;
    }
    if (source == nullptr || sourceCount <= 0) {
        *resultCount = 0;
        return 0;
    }
    return create_list_from(result, resultCount, source, sourceCount, offset);
}

uint32_t zubGetTotalLength(const zubScatterGatherEntry_t *entries, int32_t count)
{
    if (entries == nullptr || count <= 0) {
        return 0;
    }
    return total_length(entries, count);
}

} // extern "C"
