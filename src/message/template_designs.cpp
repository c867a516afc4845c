// The markup of the eight template designs. Designs 0 to 3 share one column layout about 550
// pixels wide and differ in colours and fixed pictures; designs 4 to 7 centre a 550 x 550 table in
// a full-size one, each with its own arrangement. Every text enters through escapeHtmlText(), so a
// typed "<" or quote shows as typed and never opens a tag or ends an attribute. Pictures are
// referred to as "Images/" + file name: the folder generateTemplatePage() copies them into.
#include <algorithm>
#include <string>

#include "message/attachment_list.h"
#include "message/template_wizard.h"

namespace qm {

namespace {

std::string picture(std::string_view name) {
    return "Images/" + escapeHtmlText(name);
}

std::string spacer(int width, int height) {
    return "<img src=\"Images/trans.gif\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\" alt=\"\">";
}

std::string link(const std::string& address, const std::string& text) {
    return "<a href=\"" + escapeHtmlText(address) + "\" target=\"_blank\">" + text + "</a>";
}

std::string font(std::string_view size, std::string_view color, const std::string& inner) {
    return "<font face=\"Verdana, Arial, Helvetica, sans-serif\" size=\"" + std::string(size) +
           "\" color=\"" + std::string(color) + "\">" + inner + "</font>";
}

// A cell's or table's colour, given twice: mail readers that drop the old attribute still paint
// the colour from the style, and a reader that blocks pictures still shows the text on the colour
// it was chosen for.
std::string fill(std::string_view color) {
    return "bgcolor=\"" + std::string(color) + "\" style=\"background-color:" + std::string(color) +
           "\"";
}

std::string bold(const std::string& inner) {
    return "<b>" + inner + "</b>";
}

// The list items of the Highlights field, one per line as typed.
std::string highlightItems(const TemplateWizardState& s) {
    std::string out = "<UL type=\"fillround\">\r\n";
    for (const std::string& line : highlightLines(s.highlights))
        out += "<li>" + escapeHtmlText(line) + "</li>\r\n";
    return out;
}

// The Highlights row: the list and the tags that close its cell.
std::string highlightsRow(const TemplateWizardState& s, std::string_view color, int columns) {
    return "<tr><td colspan=\"" + std::to_string(columns) +
           "\"><font face=\"Verdana, Arial, Helvetica, sans-serif\" size=\"2\" color=\"" +
           std::string(color) + "\"><p>" + highlightItems(s) + "</UL></p></font></td></tr>\r\n";
}

bool showImage(const TemplateWizardState& s) {
    return templateDesign(s.design).imageField && s.useImage && !s.imagePath.empty();
}

bool showLogo(const TemplateWizardState& s) {
    return templateDesign(s.design).logoField && s.useLogo && !s.logoPath.empty();
}

std::string logoTag(const TemplateWizardState& s) {
    return "<img src=\"" + picture(fileNameOf(s.logoPath)) +
           "\" width=\"182\" height=\"79\" border=\"0\" alt=\"\">";
}

std::string pageStart() {
    return "<html>\r\n<head>\r\n<title>Mail Wizard</title>\r\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
           "</head>\r\n"
           "<body bgcolor=\"#FFFFFF\" text=\"#000000\" leftmargin=\"0\" topmargin=\"0\" "
           "marginwidth=\"0\" marginheight=\"0\" style=\"margin:0\">\r\n";
}

std::string pageEnd() {
    return "</body>\r\n</html>\r\n";
}

// Designs 0 to 3: one column of text beside the picture, a bar on top, the logo and the web
// address at the foot. Every text colour reads at a contrast of 4.5:1 or more against the colour
// behind it: white on the bar, the accent and body colours on the panel colour, which is also the
// base of the background picture.
struct ColumnPalette {
    std::string_view bar;         // top bar and Link2 button
    std::string_view accent;      // salutation and heading
    std::string_view text;        // body text
    std::string_view panel;       // the picture column and the page behind the background picture
    std::string_view barPicture;  // background of the top bar, or empty
    std::string_view flower;      // beside the heading, or empty
    std::string_view background;  // background of the whole table
    int width;
};

const ColumnPalette kColumnPalettes[4] = {
    {"#1F4E9A", "#1F4E9A", "#1B2A44", "#DCE7F7", "", "", "layout1_bg.gif", 550},
    {"#B0500E", "#963C08", "#3D2410", "#FCE6D2", "", "layout2_flower.gif", "layout2_bg.gif", 560},
    {"#5B2C83", "#5B2C83", "#2B1A3A", "#ECE0F5", "layout3_bg2.gif", "layout3_flower.gif",
     "layout3_bg.jpg", 550},
    {"#A3141E", "#A3141E", "#3A0F12", "#F8DADC", "layout4_bg2.gif", "layout4_flower.gif",
     "layout4_bg.jpg", 540},
};

std::string columnDesign(const TemplateWizardState& s) {
    const ColumnPalette& p = kColumnPalettes[std::clamp(s.design, 0, 3)];
    const std::string width = std::to_string(p.width);
    std::string h = pageStart();
    h += "<table width=\"" + width + "\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\" " +
         fill(p.panel) + " background=\"" + picture(p.background) + "\">\r\n";
    // 1: the top bar with Link1.
    h += "<tr><td colspan=\"3\" height=\"30\" align=\"center\" " + fill(p.bar);
    if (!p.barPicture.empty()) h += " background=\"" + picture(p.barPicture) + "\"";
    h += ">" + link(s.link1Address, font("2", "#FFFFFF", bold(escapeHtmlText(s.link1Text)))) +
         "</td></tr>\r\n";
    // 2 to 4: salutation and description beside the picture.
    h += "<tr><td width=\"14\">" + spacer(14, 1) + "</td>\r\n<td valign=\"top\">" + spacer(1, 12) +
         "<br>" + font("5", p.accent, bold(escapeHtmlText(s.salutation))) + "\r\n<p>" +
         font("2", p.text, escapeHtmlText(s.description)) + "</p></td>\r\n";
    h += "<td width=\"170\" valign=\"top\" align=\"center\" " + fill(p.panel) + ">" +
         spacer(1, 12) + "<br>";
    if (showImage(s))
        h += "<img src=\"" + picture(fileNameOf(s.imagePath)) +
             "\" width=\"144\" height=\"142\" border=\"0\" alt=\"\">";
    else
        h += spacer(144, 1);
    h += "<br>" + spacer(1, 12) + "</td></tr>\r\n";
    // 5: the heading, a flower beside it where the design has one.
    h += "<tr><td colspan=\"3\">" + spacer(1, 10) + "</td></tr>\r\n";
    h += "<tr><td colspan=\"3\">" + spacer(14, 1);
    if (!p.flower.empty())
        h += "<img src=\"" + picture(p.flower) +
             "\" width=\"40\" height=\"40\" align=\"middle\" alt=\"\"> ";
    h += font("3", p.accent, bold(escapeHtmlText(s.heading))) + "</td></tr>\r\n";
    // 6: the highlights.
    h += highlightsRow(s, p.text, 3);
    // 7: Link2 as a button.
    h += "<tr><td colspan=\"3\" align=\"center\"><table border=\"0\" cellpadding=\"8\" "
         "cellspacing=\"0\"><tr><td " +
         fill(p.bar) + ">" +
         link(s.link2Address, font("2", "#FFFFFF", bold(escapeHtmlText(s.link2Text)))) +
         "</td></tr></table></td></tr>\r\n";
    h += "<tr><td colspan=\"3\">" + spacer(1, 14) + "</td></tr>\r\n";
    // 8 and 9: the logo, and the web address bottom right.
    h += "<tr><td width=\"14\">" + spacer(14, 1) + "</td><td valign=\"bottom\">";
    h += showLogo(s) ? logoTag(s) : spacer(182, 1);
    h += "</td><td align=\"right\" valign=\"bottom\">" +
         link(s.website, font("1", p.accent, escapeHtmlText(s.website))) + spacer(8, 1) +
         "</td></tr>\r\n";
    h +=
        "<tr><td colspan=\"3\" height=\"6\" " + fill(p.bar) + ">" + spacer(1, 6) + "</td></tr>\r\n";
    h += "</table>\r\n";
    return h + pageEnd();
}

// Designs 4 to 7: a 550 x 550 card centred in the window.
std::string cardStart(std::string_view background, std::string_view color) {
    std::string h = pageStart();
    h += "<table width=\"100%\" height=\"100%\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\">"
         "<tr><td align=\"center\" valign=\"middle\">\r\n";
    h += "<table width=\"550\" height=\"550\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\" " +
         fill(color);
    if (!background.empty()) h += " background=\"" + picture(background) + "\"";
    return h + ">\r\n";
}

// The card's foot: room to push the footer line down, then the line itself, in plain words that say
// why the reader gets the mail.
std::string cardEnd(std::string_view color) {
    return "<tr><td height=\"100%\">" + spacer(1, 1) +
           "</td></tr>\r\n<tr><td style=\"padding:12px 24px\">" +
           font("2", color,
                "You are receiving this newsletter because you asked us for news about our "
                "products. Questions or wishes? Simply reply to this message and we will get back "
                "to you within one working day.") +
           "</td></tr>\r\n</table>\r\n</td></tr></table>\r\n" + pageEnd();
}

std::string row(const std::string& inner, std::string_view align = "left") {
    return "<tr><td align=\"" + std::string(align) + "\" style=\"padding:4px 24px\">" + inner +
           "</td></tr>\r\n";
}

std::string websiteRow(const TemplateWizardState& s, std::string_view color) {
    return row(link(s.website, font("1", color, escapeHtmlText(s.website))), "right");
}

std::string pictureRow(std::string_view name, int width, int height) {
    return "<tr><td><img src=\"" + picture(name) + "\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" border=\"0\" alt=\"\"></td></tr>\r\n";
}

std::string cardHighlights(const TemplateWizardState& s, std::string_view color) {
    return "<tr><td style=\"padding:0px 24px\"><font face=\"Verdana, Arial, Helvetica, "
           "sans-serif\" size=\"2\" color=\"" +
           std::string(color) + "\"><p>" + highlightItems(s) + "</UL></p></font></td></tr>\r\n";
}

std::string design4(const TemplateWizardState& s) {
    std::string h = cardStart("layout5_bg.jpg", "#EAF6EC");
    h += websiteRow(s, "#1E6B34");
    h += row("<img src=\"" + picture("layout5_flower.gif") +
                 "\" width=\"60\" height=\"60\" align=\"left\" alt=\"\">" +
                 font("5", "#1E6B34", bold(escapeHtmlText(s.salutation))),
             "left");
    h += row(font("2", "#17301E", escapeHtmlText(s.description)));
    h += row(link(s.link1Address, font("2", "#A93226", bold(escapeHtmlText(s.link1Text)))),
             "center");
    h += row(font("3", "#1E6B34", bold(escapeHtmlText(s.heading))));
    h += cardHighlights(s, "#17301E");
    h += row(link(s.link2Address, font("2", "#1E6B34", bold(escapeHtmlText(s.link2Text)))),
             "center");
    return h + cardEnd("#17301E");
}

std::string design5(const TemplateWizardState& s) {
    std::string h = cardStart("", "#FFF8E7");
    h += pictureRow("img63.jpg", 550, 40);
    h += websiteRow(s, "#7A4B00");
    h += pictureRow("img61.jpg", 550, 120);
    h += row(font("4", "#A04A0A", bold(escapeHtmlText(s.salutation))), "center");
    h += row(font("2", "#3B2A10", escapeHtmlText(s.firstDescription)));
    h += row(link(s.link1Address, font("2", "#A04A0A", bold(escapeHtmlText(s.link1Text)))),
             "center");
    h += row(font("2", "#3B2A10", escapeHtmlText(s.secondDescription)));
    h += cardHighlights(s, "#3B2A10");
    h += row(link(s.link2Address, font("2", "#A04A0A", bold(escapeHtmlText(s.link2Text)))),
             "center");
    if (showLogo(s)) h += row(logoTag(s), "center");
    return h + cardEnd("#3B2A10");
}

// Designs 6 and 7: a banner, a side picture beside the text, the logo at the foot.
std::string sideDesign(const TemplateWizardState& s, std::string_view strip,
                       std::string_view banner, std::string_view side, std::string_view color,
                       std::string_view accent, std::string_view text) {
    std::string h = cardStart("", color);
    h += pictureRow(strip, 550, 40);
    h += websiteRow(s, accent);
    h += pictureRow(banner, 550, 120);
    h += row(font("4", accent, bold(escapeHtmlText(s.salutation))), "center");
    h += "<tr><td style=\"padding:4px 24px\"><table border=\"0\" cellpadding=\"0\" "
         "cellspacing=\"0\"><tr><td valign=\"top\"><img src=\"" +
         picture(side) + "\" width=\"160\" height=\"160\" border=\"0\" alt=\"\"></td><td>" +
         spacer(12, 1) + "</td><td valign=\"top\">" +
         font("2", text, escapeHtmlText(s.description)) + "</td></tr></table></td></tr>\r\n";
    h += row(link(s.link1Address, font("2", accent, bold(escapeHtmlText(s.link1Text)))), "center");
    h += cardHighlights(s, text);
    if (showLogo(s)) h += row(logoTag(s), "center");
    return h + cardEnd(text);
}

}  // namespace

std::string templateDesignHtml(const TemplateWizardState& s) {
    switch (s.design) {
        case 4:
            return design4(s);
        case 5:
            return design5(s);
        case 6:
            return sideDesign(s, "img73.jpg", "img71.jpg", "img74.jpg", "#EEF3FA", "#23507A",
                              "#1A2633");
        case 7:
            return sideDesign(s, "img83.jpg", "img81.jpg", "img84.jpg", "#F3EEF8", "#6A2C70",
                              "#2A1A2C");
        default:
            return columnDesign(s);
    }
}

}  // namespace qm
