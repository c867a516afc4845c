// The send log of a run: the SMTP conversation of every recipient, kept per sending thread and
// appended to the data root's SendLog.txt.
//
// Entry points: append(slot, text) from any thread (slot 0 the scheduled thread, 1..15 the sending
// threads); beginRecipient() opens one recipient's block; write(path) appends every slot to the
// file and empties them. Each slot has its own lock (a thread appends to its own slot only, so
// fifteen threads do not queue on one lock for every server reply); a write takes every slot's lock
// in order, so it never interleaves with an append.
//
// Format: in memory "\n" ends lines; in the file each becomes CR LF. A write puts, for each
// non-empty slot in order, its text and one more line end.
//
// Bound: with a spill path set, a slot whose text passes the spill bound has its finished
// recipient blocks (everything before the block being written) appended to the file at once, in
// the same form as a write would give them. A block is never split, so memory stays near
// 16 x (bound + one recipient block) on runs of any length. A file that cannot be opened loses
// those blocks silently, as the end-of-run write does.
//
// Secrets: the buffer stores what it is given; the SMTP client never gives it anything it sent.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace qm {

class SendLogBuffer {
  public:
    static constexpr int kSlots = 16;
    static constexpr std::size_t kDefaultSpillBound = 256 * 1024;
    // The line that opens every recipient's block.
    static constexpr std::string_view kRecipientMark =
        "****************************************\n\nRecipient : ";

    SendLogBuffer() = default;
    SendLogBuffer(const SendLogBuffer&) = delete;
    SendLogBuffer& operator=(const SendLogBuffer&) = delete;

    // Where finished blocks go once a slot passes `bound` bytes; empty keeps everything in memory.
    void setSpill(std::string path, std::size_t bound = kDefaultSpillBound);

    // Ignores an empty text and a slot outside 0..15. A text holding CR LF is cut before the first
    // CR LF and ended with "\n". A text starting with kRecipientMark opens a new block.
    void append(int slot, std::string_view text);
    // Appends kRecipientMark + address + "\n".
    void beginRecipient(int slot, std::string_view address);
    // Appends every non-empty slot to `path` and empties it. Ignores an empty path; false when
    // the file cannot be written, and then the slots keep their text for the next write.
    bool write(const std::string& path);

    // Copy of one slot's text (for tests and the command line's transcript).
    std::string slotText(int slot) const;

  private:
    struct Slot {
        mutable std::mutex mutex;
        std::string text;
        std::size_t blockStart = 0;  // where the block being written begins
    };

    std::mutex fileMutex_;  // the spill settings and every write to the file
    Slot slots_[kSlots];
    std::string spillPath_;
    std::size_t spillBound_ = kDefaultSpillBound;
};

// "\n" -> CR LF, the file form of buffer text.
std::string toCrLf(std::string_view text);

}  // namespace qm
