// The stored choices that shape every outgoing copy beyond the message itself: how the HTML
// shape's text alternative is made, the one-click unsubscribe URL template, the List-Id field of
// group runs and the spelling of the footer's markup.
//
// Entry points: loadMailShape() reads both from the settings store; applyMailShape() puts them on
// a CampaignMessage; textPartName() / parseTextPart() are the stored and command-line spellings
// ("source", "readable").
// Failure: none; an unknown stored spelling reads as the default (the HTML source), a stored URL
// that is no longer a usable template is kept but gives no URL header (list_unsubscribe.h).
// Threads: any; every call reads the store afresh.
// Standard: none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "message/campaign_message.h"

namespace qm {

class SettingsStore;

struct MailShape {
    TextPartStyle textPart = TextPartStyle::HtmlSource;
    std::string unsubscribeUrl;
    bool listId = false;
    FooterMarkup footerMarkup = FooterMarkup::Classic;
};

std::string_view textPartName(TextPartStyle style);
std::optional<TextPartStyle> parseTextPart(std::string_view name);
// "classic" and "lower".
std::string_view footerMarkupName(FooterMarkup markup);
std::optional<FooterMarkup> parseFooterMarkup(std::string_view name);

MailShape loadMailShape(const SettingsStore& store);
void applyMailShape(CampaignMessage& m, const MailShape& shape);

}  // namespace qm
