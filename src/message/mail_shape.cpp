#include "message/mail_shape.h"

#include "config/settings.h"

namespace qm {

std::string_view textPartName(TextPartStyle style) {
    return style == TextPartStyle::Readable ? "readable" : "source";
}

std::optional<TextPartStyle> parseTextPart(std::string_view name) {
    if (name == "source") return TextPartStyle::HtmlSource;
    if (name == "readable") return TextPartStyle::Readable;
    return std::nullopt;
}

std::string_view footerMarkupName(FooterMarkup markup) {
    return markup == FooterMarkup::LowerCase ? "lower" : "classic";
}

std::optional<FooterMarkup> parseFooterMarkup(std::string_view name) {
    if (name == "classic") return FooterMarkup::Classic;
    if (name == "lower") return FooterMarkup::LowerCase;
    return std::nullopt;
}

MailShape loadMailShape(const SettingsStore& store) {
    MailShape shape;
    shape.textPart = parseTextPart(store.read(keys::kTextPart)).value_or(TextPartStyle::HtmlSource);
    shape.unsubscribeUrl = store.read(keys::kUnsubscribeUrl);
    shape.listId = store.readFlag(keys::kListId);
    shape.footerMarkup =
        parseFooterMarkup(store.read(keys::kFooterMarkup)).value_or(FooterMarkup::Classic);
    return shape;
}

void applyMailShape(CampaignMessage& m, const MailShape& shape) {
    m.textPart = shape.textPart;
    m.unsubscribeUrl = shape.unsubscribeUrl;
    m.listId = shape.listId;
    m.footerMarkup = shape.footerMarkup;
}

}  // namespace qm
