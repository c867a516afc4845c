// RetrievedMessage: one mailbox message split into the parts that unsubscribe retrieval reads.
//
// Entry points: parseRetrievedMessage() takes the text of a RETR answer as the server sent it
// (every line with its CR LF, dot-stuffed, the status line and the terminating "." line left
// out) and fills the record; unstuffDots() and splitAddressHeader() are the steps it is made of.
//
// Rules: dot-stuffing is undone on every line (RFC 1939: a line that begins with "." arrived with
// one more). The header block is what precedes the first empty line ("\r\n\r\n"), the body what
// follows it; without an empty line the whole text is header. Header fields are looked for at the
// start of a header line, exact case, one blank after the colon ("From: ", "To: ", "Date: ",
// "Subject: ", "Cc: "), the first such line counting; a value runs to the end of its line
// (folded continuation lines are not joined). They are taken in the order From, To, Date, Subject,
// and the first of those four that is missing ends the parse: a message without a Date line gets
// an empty subject. Cc is optional. To and Cc are cut at every ";" (a "," separates nothing):
// a piece without "<" is an address with an empty name, a piece with "<" gives the text before it
// (untrimmed) as the name and the text up to the next ">" as the address; a piece whose ">" is
// missing or comes before its "<" ends that header's list. Empty pieces give nothing.
//
// Failure: never fails and never throws; any bytes give some record.
// Limits: linear in the input; the caller bounds the size of a message.
// Threads: pure functions.
// Standard: RFC 1939 section 3 (byte-stuffing of multi-line answers); header lookup is the
// system's own narrow reading, not RFC 5322.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

struct RetrievedMessage {
    std::string from;     // value of the From line
    std::string subject;  // value of the Subject line
    std::string header;   // everything before the first empty line
    std::string body;     // everything after it, unstuffed
    // When the message was retrieved; set only when the message has a Date line (its own value is
    // not read).
    std::optional<std::time_t> date;
    // (address, display name) from To, then Cc.
    std::vector<std::pair<std::string, std::string>> addresses;
};

// Removes the first "." of every line that begins with one, the first line included.
std::string unstuffDots(std::string_view text);
// Appends the (address, name) pairs of one To or Cc value to `out`.
void splitAddressHeader(std::string_view value,
                        std::vector<std::pair<std::string, std::string>>& out);
RetrievedMessage parseRetrievedMessage(std::string_view stuffedText, std::time_t now);

}  // namespace qm
