#include "message/template_wizard.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/atomic_file.h"
#include "common/file_util.h"
#include "common/text.h"
#include "message/attachment_list.h"

namespace qm {

namespace {

constexpr std::uint64_t kPictureReadLimit = 64ull << 20;

// Fixed pictures, fields in use and the salutation each design starts with. Hidden fields keep
// their defaults and are still checked.
constexpr std::string_view kOffer = "2 themes FREE with every 3 themes you buy!";
const TemplateDesign kDesigns[kTemplateDesignCount] = {
    {.fixedPictures = {"trans.gif", "layout1_bg.gif"},
     .imageField = true,
     .logoField = true,
     .headingShown = true,
     .defaultSalutation = "A Great Offer!"},
    {.fixedPictures = {"trans.gif", "layout2_flower.gif", "layout2_bg.gif"},
     .imageField = true,
     .logoField = true,
     .headingShown = true,
     .defaultSalutation = "A Great Offer!"},
    {.fixedPictures = {"trans.gif", "layout3_flower.gif", "layout3_bg.jpg", "layout3_bg2.gif"},
     .imageField = true,
     .logoField = true,
     .headingShown = true,
     .defaultSalutation = "Dear Friend,"},
    {.fixedPictures = {"trans.gif", "layout4_flower.gif", "layout4_bg.jpg", "layout4_bg2.gif"},
     .imageField = true,
     .logoField = true,
     .headingShown = true,
     .defaultSalutation = "Dear Friend,"},
    {.fixedPictures = {"trans.gif", "layout5_flower.gif", "layout5_bg.jpg"},
     .headingShown = true,
     .defaultSalutation = "A Very Special Offer!"},
    {.fixedPictures = {"trans.gif", "img63.jpg", "img61.jpg"},
     .logoField = true,
     .twoDescriptions = true,
     .defaultSalutation = kOffer,
     .salutationIsOffer = true},
    {.fixedPictures = {"trans.gif", "img73.jpg", "img71.jpg", "img74.jpg"},
     .logoField = true,
     .link2Shown = false,
     .defaultSalutation = kOffer,
     .salutationIsOffer = true},
    {.fixedPictures = {"trans.gif", "img83.jpg", "img84.jpg", "img81.jpg"},
     .logoField = true,
     .link1Shown = false,
     .link2Shown = false,
     .defaultSalutation = kOffer,
     .salutationIsOffer = true},
};

int clampDesign(int index) {
    return std::clamp(index, 0, kTemplateDesignCount - 1);
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

void trimInPlace(std::string& s) {
    s = std::string(trimWhite(s));
}

bool hasForbiddenCharacter(std::string_view address) {
    return address.find_first_of("<>\"|'") != std::string_view::npos;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Copies `from` into `imagesFolder` under its own name and lists the copy once. A file that
// cannot be read gives `missing`; one that cannot be written gives the reason.
void copyPicture(const std::string& from, const std::string& imagesFolder, std::string_view missing,
                 TemplateGeneration& out, std::vector<std::string>& list) {
    std::string bytes;
    if (!readFile(from, bytes, nullptr, kPictureReadLimit)) {
        out.messages.emplace_back(missing);
        return;
    }
    const std::string to = imagesFolder + "/" + std::string(fileNameOf(from));
    std::string error;
    if (!writeFileAtomic(to, bytes, &error, {.durable = false})) {
        out.messages.push_back("The picture " + std::string(fileNameOf(from)) +
                               " could not be copied into the Images folder: " + error);
        return;
    }
    if (std::find(list.begin(), list.end(), to) == list.end()) list.push_back(to);
}

}  // namespace

const TemplateDesign& templateDesign(int index) {
    return kDesigns[clampDesign(index)];
}

int templateAtClick(int x, int y) {
    int column = x >= 21 && x <= 89 ? 0 : x >= 101 && x <= 169 ? 1 : -1;
    int row = -1;
    for (int r = 0; r < 4; ++r)
        if (y >= 31 + 80 * r && y <= 104 + 80 * r) row = r;
    if (column < 0 || row < 0) return -1;
    const int design = row * 2 + column;
    return design == kUnpickableDesign ? -1 : design;
}

TemplateWizardState defaultWizardState(int design) {
    TemplateWizardState s;
    s.design = clampDesign(design);
    s.link1Text = "DON'T MISS THIS CHANGE ! CLICK NOW!";
    s.link1Address = "http://www.example.com/offer";
    s.link2Text = "Please try it out today, this is a limited offer !";
    s.link2Address = "http://www.example.com/order";
    s.website = "http://www.example.com";
    // The sample paragraphs read as an ordinary newsletter's: a page of pictures with a line or two
    // of words is what spam looks like, to readers and to filters alike.
    s.description =
        "Our new collection of mail templates makes every message you send look its best. Pick "
        "a design, add your own words and pictures, and your campaign is ready in minutes. Each "
        "design is laid out for easy reading on large screens and small ones alike, with clear "
        "headings, short paragraphs and room for your own logo. Change the colours, the words "
        "and the pictures whenever you like, and your readers will know your messages at a "
        "glance. Every text stays text, so it can be searched, copied and read aloud, and it "
        "still makes sense when the pictures are switched off. The highlights below list a few of "
        "the things you get, and a short guide that comes with every design explains the rest step "
        "by step, from the first draft to the last test message. Most of our customers send their "
        "first campaign on the very day they choose a design, and many of them tell us that their "
        "readers answer more often than before.";
    s.firstDescription =
        "Every theme comes with matching colours, headings and picture frames, so your mail "
        "looks the same in every reader. The layouts are built from simple tables that mail "
        "programs have shown the same way for years, and every word stays text that your "
        "readers can search, copy and read with the pictures switched off. Every theme has been "
        "tried in the mail programs most people use, on computers and on phones alike.";
    s.secondDescription =
        "Order three themes this month and we add two more of your choice at no extra cost. "
        "Each theme comes with a short guide to fitting it to your own style, and our support "
        "team answers your questions by mail within one working day. If a theme does not suit you "
        "after all, tell us within thirty days and we will exchange it for another one.";
    s.heading = "Look what you get with this great product";
    s.highlights =
        "A Great Time Saver!\r\nReady to use templates in different colors.\r\nRe-usable designs "
        "in attractive layouts.\r\nOnly $299 each, get them today!";
    s.salutation = std::string(templateDesign(s.design).defaultSalutation);
    return s;
}

void chooseDesign(TemplateWizardState& s, int design) {
    design = clampDesign(design);
    if (s.salutation == templateDesign(s.design).defaultSalutation)
        s.salutation = std::string(templateDesign(design).defaultSalutation);
    s.design = design;
}

std::string normaliseLinkAddress(std::string_view address) {
    std::string s(address);
    std::replace(s.begin(), s.end(), 'W', 'w');
    replaceAll(s, "\\\\\\", "\\\\");
    for (std::string_view scheme :
         {"http://", "Http://", "HTTP://", "http:\\\\", "Http:\\\\", "HTTP:\\\\"})
        for (size_t at = s.find(scheme); at != std::string::npos; at = s.find(scheme, at))
            s.erase(at, scheme.size());
    std::replace(s.begin(), s.end(), '\\', '/');
    return s.empty() ? s : "http://" + s;
}

std::string escapeHtmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string templateTargetName(std::string_view name) {
    auto endsWith = [name](std::string_view tail) {
        return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    if (endsWith(".html") || endsWith(".htm")) return std::string(name);
    return std::string(name) + ".htm";
}

std::vector<std::string> highlightLines(std::string_view highlights) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t end = highlights.find('\n', start);
        std::string_view line = highlights.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return lines;
}

WizardCheck checkLinks(TemplateWizardState& s) {
    for (std::string* field :
         {&s.link1Text, &s.link1Address, &s.link2Text, &s.link2Address, &s.website})
        trimInPlace(*field);
    for (std::string* address : {&s.link1Address, &s.link2Address, &s.website})
        *address = normaliseLinkAddress(*address);
    using F = WizardField;
    if (s.link1Text.empty()) return {F::Link1Text, "Link1 text field cannot be empty."};
    if (s.link1Address.empty()) return {F::Link1Address, "Link1 Address field cannot be empty."};
    if (hasForbiddenCharacter(s.link1Address))
        return {F::Link1Address, "Link1 Address cannot contain <,>,\",',|."};
    if (s.link2Text.empty()) return {F::Link2Text, "Link2 text field cannot be empty."};
    if (s.link2Address.empty()) return {F::Link2Address, "Link2 Address field cannot be empty."};
    if (hasForbiddenCharacter(s.link2Address))
        return {F::Link2Address, "Link2 Address cannot contain <,>,\",',|."};
    if (s.website.empty()) return {F::Website, "Website Address field cannot be empty."};
    if (hasForbiddenCharacter(s.website))
        return {F::Website, "Website Address cannot contain <,>,\",',|."};
    return {};
}

WizardCheck checkTexts(TemplateWizardState& s) {
    for (std::string* field : {&s.description, &s.firstDescription, &s.secondDescription,
                               &s.heading, &s.highlights, &s.salutation})
        trimInPlace(*field);
    using F = WizardField;
    if (s.description.empty()) return {F::Description, "Description field cannot be empty."};
    if (s.firstDescription.empty())
        return {F::FirstDescription, "First description field cannot be empty."};
    if (s.secondDescription.empty())
        return {F::SecondDescription, "Second description field cannot be empty."};
    if (s.heading.empty()) return {F::Heading, "Heading field cannot be empty."};
    if (s.highlights.empty()) return {F::Highlights, "Highlights field cannot be empty."};
    if (s.salutation.empty())
        return {F::Salutation, s.design == 5 || s.design == 7
                                   ? "Template Offer field cannot be empty"
                                   : "Salutation field cannot be empty."};
    if (highlightLines(s.highlights).size() > kMaxHighlights)
        return {F::Highlights, "More than 6 highlights are not allowed."};
    return {};
}

WizardCheck checkImages(const TemplateWizardState& s) {
    const TemplateDesign& d = templateDesign(s.design);
    if (d.imageField && s.useImage && s.imagePath.empty())
        return {WizardField::Image, "Please enter the path of image."};
    if (d.logoField && s.useLogo && s.logoPath.empty())
        return {WizardField::Logo, "Please enter the path of logo."};
    return {};
}

void fillDefaultPictures(TemplateWizardState& s, const std::string& dataFolder) {
    const std::string number = std::to_string(clampDesign(s.design) + 1);
    if (s.imagePath.empty()) s.imagePath = dataFolder + "/Images/img" + number + "1.jpg";
    if (s.logoPath.empty()) s.logoPath = dataFolder + "/Images/img" + number + "2.jpg";
}

TemplateGeneration generateTemplatePage(TemplateWizardState& s, const std::string& dataFolder) {
    TemplateGeneration out;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(s.targetPath, ec);
    if (!ec) s.targetPath = absolute.lexically_normal().string();
    const std::string imagesFolder = folderOf(s.targetPath) + "/Images";
    std::string error;
    if (!makeFolders(imagesFolder, &error)) {
        out.error = "The Images folder could not be made: " + error;
        return out;
    }
    s.pictures.clear();
    const TemplateDesign& d = templateDesign(s.design);
    if (d.imageField && s.useImage && !s.imagePath.empty())
        copyPicture(s.imagePath, imagesFolder, kMsgImageMissing, out, s.pictures);
    if (d.logoField && s.useLogo && !s.logoPath.empty())
        copyPicture(s.logoPath, imagesFolder, kMsgLogoMissing, out, s.pictures);
    for (std::string_view name : d.fixedPictures)
        copyPicture(dataFolder + "/images/" + std::string(name), imagesFolder,
                    kMsgFixedPictureMissing, out, s.pictures);

    const std::string page = templatePageHeader(s.pictures) + templateDesignHtml(s);
    if (!writeFileAtomic(s.targetPath, page, &error)) {
        out.error = "The template could not be saved as " + s.targetPath + ": " + error;
        return out;
    }
    out.written = true;
    return out;
}

std::vector<std::string> unreadableTemplatePictures(const TemplateWizardState& s,
                                                    const std::string& dataFolder) {
    std::vector<std::string> out;
    auto check = [&out](const std::string& path, std::string_view missing) {
        std::string bytes;
        if (!readFile(path, bytes, nullptr, kPictureReadLimit)) out.emplace_back(missing);
    };
    const TemplateDesign& d = templateDesign(s.design);
    if (d.imageField && s.useImage && !s.imagePath.empty()) check(s.imagePath, kMsgImageMissing);
    if (d.logoField && s.useLogo && !s.logoPath.empty()) check(s.logoPath, kMsgLogoMissing);
    for (std::string_view name : d.fixedPictures)
        check(dataFolder + "/images/" + std::string(name), kMsgFixedPictureMissing);
    return out;
}

std::string templatePageHeader(const std::vector<std::string>& pictures) {
    std::string h =
        "<!---Cation: Do not delete or change this information--->\r\n"
        "<!---Quillmark Generated Template--->\r\n"
        "<!---##" +
        std::to_string(pictures.size()) + "##--->\r\n";
    for (size_t i = 0; i < pictures.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        h += "<!---Image#" + n + ":" + pictures[i] + n + "#--->\r\n";
    }
    h += "\r\n<!---Editable content starts here--->\r\n\r\n\r\n";
    return h;
}

}  // namespace qm
