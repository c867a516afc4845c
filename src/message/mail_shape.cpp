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

MailShape loadMailShape(const SettingsStore& store) {
    MailShape shape;
    shape.textPart = parseTextPart(store.read(keys::kTextPart)).value_or(TextPartStyle::HtmlSource);
    shape.unsubscribeUrl = store.read(keys::kUnsubscribeUrl);
    return shape;
}

void applyMailShape(CampaignMessage& m, const MailShape& shape) {
    m.textPart = shape.textPart;
    m.unsubscribeUrl = shape.unsubscribeUrl;
}

}  // namespace qm
