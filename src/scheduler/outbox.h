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
#pragma once

#include <ctime>
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
// Path of the written file, or "error".
std::string writeOutbox(const Paths& paths, const OutboxRun& run, std::time_t when);
bool readOutbox(const std::string& path, OutboxRun& out);

// The recipient list split at ";" (empty pieces dropped).
std::vector<std::string> outboxRecipientList(std::string_view recipients);

// The typed addresses joined by ";", then each group's Enabled members whose address is not yet
// in the list (exact comparison; letter case makes addresses different, as in a run).
std::string buildOutboxRecipients(const std::vector<std::string>& typed,
                                  const std::vector<std::vector<Recipient>>& groups);

}  // namespace qm
