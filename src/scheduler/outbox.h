// Outbox files: a run stored for a later start, written by "Send" with "Start At" and read back by
// the scheduled thread.
//
// Format (CR LF line ends): "~!~SenderInformation", sender name, "~***~" + sender address,
// "~!~Recievers", the recipient list (";" between addresses), "~!~Content", subject, the body
// followed at once by "~***~" CR LF, the attachment paths joined by ";", "true"/"false" (HTML),
// and the embedded flags ("y"/"n" per attachment) without a line end.
//
// Entry points: buildOutbox()/parseOutbox() (pure, the parser takes any bytes), writeOutbox()
// (path or "error") and readOutbox(); buildOutboxRecipients() makes the recipient list.
//
// Body escape: a body holding "~***~" would end early when read, so after every "~***" that is
// followed by "~" or "!" the writer puts one "!" and the reader drops it. Bodies without those
// sequences are written unchanged, so older files read as before, and every body round-trips.
// Single-line fields lose any CR or LF (replaced by a blank): they cannot hold a line end.
//
// Names: OutBox/EmailFile<yyjjjHHMMSS>.ml in local time; a name already taken in that second gets
// "_2", "_3"... before ".ml". The name is claimed with O_EXCL and the content then written by an
// atomic rename, so two writers never share a file and a reader never sees half of one.
//
// Files: a stored run owns copies of its attachments and inline pictures, in the folder
// outboxFilesFolder() (the outbox file's name with ".files" for ".ml"); the outbox file lists
// those copies, so a later import or edit of the originals cannot change what the run sends. The
// copies are made in a staging folder ".staging-*" beside it, flushed, and renamed into place
// (RENAME_NOREPLACE) before the outbox file names them: a process killed at any moment leaves no
// entry folder or a whole one, and at most a staging folder that the next store clears. Each file
// keeps its name (the message's inline references name it); a name already taken in the folder
// goes into a numbered subfolder ("2/image001.png"), so no copy overwrites another. Runs stored
// by older versions list paths elsewhere and are read and sent from there as before.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "groups/recipient.h"

namespace qm {

class Paths;

inline constexpr std::string_view kOutboxError = "error";

struct OutboxRun {
    std::string senderName;
    std::string senderAddress;
    std::string recipients;  // addresses joined by ";"
    std::string subject;
    std::string body;
    std::vector<std::string> attachments;
    bool html = false;
    std::string embeddedFlags;  // one "y"/"n" per attachment
};

std::string buildOutbox(const OutboxRun& run);
// False when the markers are not where the format puts them.
bool parseOutbox(std::string_view text, OutboxRun& out);

// The file name for a run written at `when` (local time), before any "_N" suffix.
std::string outboxFileName(std::time_t when);
// Path of the written file, or "error". The attachment paths are written as they are.
std::string writeOutbox(const Paths& paths, const OutboxRun& run, std::time_t when);

// The folder of a stored run's own files; empty for "error" or a path not ending in ".ml".
std::string outboxFilesFolder(std::string_view outboxPath);
// Removes the folder of the stored run's files and everything in it (nothing when it is missing).
bool removeOutboxFiles(std::string_view outboxPath);

enum class OutboxStoreStatus {
    Written,     // path names the outbox file, whose attachments are the run's own copies
    Unwritable,  // path is "error": the outbox file could not be written (nothing left behind)
    CopyFailed,  // an attachment could not be copied: message says which; nothing left behind
};

struct OutboxStore {
    OutboxStoreStatus status = OutboxStoreStatus::Written;
    std::string path = std::string(kOutboxError);
    std::string message;
};

// Tests stop a store at a chosen step (a kill test raises SIGKILL there): "copied" after each
// copied file, "staged" after the staging folder is flushed, "placed" after its rename.
using OutboxStepHook = std::function<void(std::string_view step)>;

// writeOutbox() for a run whose attachments are copied first (see "Files" above). The caller
// holds the schedule's file lock, so no other store uses a staging folder meanwhile.
OutboxStore storeOutbox(const Paths& paths, OutboxRun run, std::time_t when,
                        const OutboxStepHook& step = {});

inline constexpr std::string_view kMsgAttachmentNotCopied =
    "The campaign was not stored: a copy of its file could not be made: ";
bool readOutbox(const std::string& path, OutboxRun& out);

// The recipient list split at ";" (empty pieces dropped).
std::vector<std::string> outboxRecipientList(std::string_view recipients);

// The typed addresses joined by ";", then each group's Enabled members whose address is not yet
// in the list (exact comparison; letter case makes addresses different, as in a run).
std::string buildOutboxRecipients(const std::vector<std::string>& typed,
                                  const std::vector<std::vector<Recipient>>& groups);

}  // namespace qm
