// The List-Unsubscribe header fields of one recipient's copy: the mailbox route of the footer link,
// and a one-click https route when the user gave a URL template.
//
// Entry points: listUnsubscribeHeaders() for the header lines of one copy (MimeMessage's
// extraHeaders); checkUnsubscribeUrl() for a template the user typed; fillUnsubscribeUrl().
//   - The mailto: URL has the address and the subject of the footer link (html_tools.h), so a
//     provider's unsubscribe button sends the same request the mailbox harvest files: the group's
//     name for a group run in "Single Group" scope, "Unsubscribe" (all groups) in "All Groups".
//     Typed addresses and scheduled runs have no group; their footer link asks for no subject,
//     which the harvest files under all groups, and the header asks for "Unsubscribe", which it
//     files the same way and a person reading the mailbox recognises.
//   - With a template, the URL follows the mailto: URL, with "[**EMAIL**]" replaced by the
//     recipient's address and "[**GROUP**]" by the group the mailto: subject names (empty for all
//     groups, typed addresses and scheduled runs), both percent-encoded; then
//     "List-Unsubscribe-Post: List-Unsubscribe=One-Click". Without a template there is no Post
//     field: it promises a URL that takes a POST.
//   - No unsubscribe address, no fields: the header mirrors the footer, which is not there either.
//
// Failure: checkUnsubscribeUrl() returns the text to show for a template that is not an https URL
// or holds a character a URL cannot. A filled URL whose header line would pass 998 octets (a
// huge group name) is left out with its Post field, the mailto: route stays; a mailto: line that
// would pass it (a group name longer than any file system holds) gives no fields at all.
// Limits: every byte written is printable ASCII: the address and the subject are percent-encoded,
// templates are checked, so no group name or address can end the header line. The two URLs stand
// on separate lines when together they pass 78 characters; a URL is never broken.
// Threads: pure functions.
// Standard: RFC 2369 (List-Unsubscribe), RFC 8058 (one-click), RFC 6068 (mailto:), RFC 3986
// (percent-encoding), RFC 5322 (folding, line length).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/campaign_message.h"

namespace qm {

inline constexpr std::string_view kEmailPlaceholder = "[**EMAIL**]";
inline constexpr std::string_view kGroupPlaceholder = "[**GROUP**]";
inline constexpr std::size_t kMaxUnsubscribeUrl = 1024;

// Empty when `url` is empty or a usable template; else the text to show.
std::string checkUnsubscribeUrl(std::string_view url);

// The template with the placeholders replaced (values percent-encoded).
std::string fillUnsubscribeUrl(std::string_view url, std::string_view recipient,
                               std::string_view group);

// Header lines without their final CR LF (continuation lines joined by CR LF + blank); `group` is
// nullopt for typed addresses and scheduled runs.
std::vector<std::string> listUnsubscribeHeaders(const CampaignMessage& m,
                                                std::string_view recipient,
                                                std::optional<std::string_view> group);

// Every list field of one copy: List-Id (list_id.h) when `m.listId` is set and the copy belongs
// to a group, then the List-Unsubscribe fields above.
std::vector<std::string> listHeaders(const CampaignMessage& m, std::string_view recipient,
                                     std::optional<std::string_view> group);

}  // namespace qm
