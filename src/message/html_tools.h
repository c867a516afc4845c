// HTML page tools: the generated-page header, inserting a web page, turning picture references into
// inline parts, and the unsubscribe text that every copy carries.
//
// Entry points:
//   readGeneratedPage()   reads the marker and picture list a template-wizard page carries;
//   insertWebPage()       the core of "Insert Webpage...": reads the page, sets the message's page
//                         flags and, for a generated page, attaches its pictures;
//   rewriteInlineImages() run on the body after the checks: every attachment that a tag of the body
//                         refers to by name becomes "cid:" + its content identifier (from
//                         contentIdsFor() over the whole list, as the builder names the parts) and
//                         is flagged embedded;
//   withUnsubscribeText() the body with the unsubscribe link (HTML) or line (plain text) added.
// A reference is an occurrence of the whole file name inside a tag, in the value of the last
// attribute before it, at the value's start or after a "/" or "\", followed by a quote, ">" or a
// blank; the value up to the end of the name is replaced. All names are looked for in the body as
// written, so one name never matches the "cid:" text put in for another.
//
// Failure: the fixed texts returned for the caller to show. All readers take any bytes and never
// fail.
//
// Limits: time linear in the page times the number of attachments; a page file over 64 MiB is
// read as empty.
//
// Threads: none shared; each call works on its arguments.
//
// Standard: RFC 2392 "cid:" URLs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/campaign_message.h"

namespace qm {

inline constexpr std::string_view kGeneratedPageMarker = "<!---Quillmark Generated Template--->";
inline constexpr std::string_view kMsgAddImagesYourself =
    "You have to add all the images yourself if they are used in this web page.";
inline constexpr std::string_view kMsgTemplateInfoLost =
    "The template information has been lost. You have to add images by yourself.";

struct GeneratedPage {
    bool generated = false;                 // the marker is present
    int pictureCount = 0;                   // the digit after the first "<!---##", else 0
    std::vector<std::string> picturePaths;  // pictureCount entries; empty where not found
};
GeneratedPage readGeneratedPage(std::string_view page);

struct InsertPageResult {
    bool loaded = false;                // the editor should load the page file
    std::vector<std::string> messages;  // to show one by one, in order
};
InsertPageResult insertWebPage(CampaignMessage& m, const std::string& path);

// Rewrites the references and sets the embedded flags of `list` (which the caller reset).
void rewriteInlineImages(std::string& body, AttachmentList& list);
// The same for bare file names: true for each name that was referred to.
std::vector<bool> rewriteInlineReferences(std::string& body, const std::vector<std::string>& names);

// The subject the HTML link's mailto: URL asks for, percent-encoded ("Unsubscribe-" + the group
// with blanks as ":", or "Unsubscribe" for all groups); empty without a group.
std::string unsubscribeLinkSubject(UnsubscribeScope scope, std::optional<std::string_view> group);
// The link (HTML) or line (plain text) for unsubscribe address `address`. `group` is the group's
// name for group runs, nullopt for runs over typed addresses and scheduled runs. `markup` spells
// the HTML link's tags (the plain line has none).
std::string unsubscribeText(MessageFormat format, std::string_view address, UnsubscribeScope scope,
                            std::optional<std::string_view> group,
                            FooterMarkup markup = FooterMarkup::Classic);
// The HTML link goes before every "</body>", or with "</body></html>" at the end when there is
// none; the plain line is appended.
std::string withUnsubscribeText(std::string_view body, MessageFormat format,
                                std::string_view address, UnsubscribeScope scope,
                                std::optional<std::string_view> group,
                                FooterMarkup markup = FooterMarkup::Classic);

}  // namespace qm
