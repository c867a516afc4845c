// Draws every picture the template designs use: the eight thumbnails and large previews, the
// designs' fixed pictures (spacer, backgrounds, flowers, banners) and the sample image and logo of
// each design. Run at build time; nothing here comes from anywhere else.
//
// Usage: draw_template_pictures OUT_FOLDER   (writes OUT_FOLDER/images and OUT_FOLDER/Images)
//
// Failure: exit 1 with the name of the picture that could not be written.
//
// JPEG goes through Qt's writer; GIF, which Qt reads but does not write, through the small
// writer below: the picture reduced to at most 256 colours, one transparent index where the
// drawing left pixels clear, and LZW data of literal codes only (a clear code every 250 codes
// keeps them 9 bits wide), which every reader decodes.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QString outFolder;
bool failed = false;

void saveJpeg(const QImage& image, const QString& relative) {
    const QString path = outFolder + "/" + relative;
    if (!image.convertToFormat(QImage::Format_RGB32).save(path, "JPG", 90)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        failed = true;
    }
}

// LZW with literal codes only: valid for every reader, a little larger than packed data.
QByteArray lzwLiterals(const QImage& indexed) {
    QByteArray out;
    quint32 bits = 0;
    int bitCount = 0;
    auto put = [&](int code) {
        bits |= quint32(code) << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            out.append(char(bits & 0xFF));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    const int clear = 256, end = 257;
    int sinceClear = 0;
    put(clear);
    for (int y = 0; y < indexed.height(); ++y) {
        const uchar* line = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x) {
            if (sinceClear == 250) {
                put(clear);
                sinceClear = 0;
            }
            put(line[x]);
            ++sinceClear;
        }
    }
    put(end);
    if (bitCount > 0) out.append(char(bits & 0xFF));
    return out;
}

void saveGif(const QImage& drawn, const QString& relative) {
    // An exact palette: GIF drawings are made without antialiasing and with banded gradients, so
    // their colours are few. Index 0 stands for every pixel the drawing left clear.
    const QImage argb = drawn.convertToFormat(QImage::Format_ARGB32);
    QList<QRgb> table{qRgb(255, 255, 255)};
    QHash<QRgb, int> index;
    bool anyClear = false;
    QImage indexed(argb.size(), QImage::Format_Indexed8);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(in[x]) < 128) {
                anyClear = true;
                out[x] = 0;
                continue;
            }
            const QRgb c = in[x] | 0xFF000000u;
            auto found = index.constFind(c);
            if (found == index.constEnd()) {
                if (table.size() == 256) {
                    std::fprintf(stderr, "%s: more than 255 colours\n", qPrintable(relative));
                    failed = true;
                    return;
                }
                found = index.insert(c, int(table.size()));
                table.append(c);
            }
            out[x] = uchar(*found);
        }
    }
    while (table.size() < 256) table.append(qRgb(0, 0, 0));
    const int transparent = anyClear ? 0 : -1;

    QByteArray gif("GIF89a");
    auto word = [&gif](int v) {
        gif.append(char(v & 0xFF));
        gif.append(char((v >> 8) & 0xFF));
    };
    word(indexed.width());
    word(indexed.height());
    gif.append(char(0xF7));  // global table of 256 entries, 8 bits per colour
    gif.append(char(0));
    gif.append(char(0));
    for (QRgb c : table) {
        gif.append(char(qRed(c)));
        gif.append(char(qGreen(c)));
        gif.append(char(qBlue(c)));
    }
    if (transparent >= 0) {
        gif.append("\x21\xF9\x04", 3);
        gif.append(char(0x01));
        word(0);
        gif.append(char(transparent));
        gif.append(char(0));
    }
    gif.append(char(0x2C));
    word(0);
    word(0);
    word(indexed.width());
    word(indexed.height());
    gif.append(char(0));
    gif.append(char(8));  // minimum code size
    const QByteArray data = lzwLiterals(indexed);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype n = std::min<qsizetype>(255, data.size() - at);
        gif.append(char(n));
        gif.append(data.mid(at, n));
    }
    gif.append(char(0));
    gif.append(char(0x3B));

    QFile file(outFolder + "/" + relative);
    if (!file.open(QIODevice::WriteOnly) || file.write(gif) != gif.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        failed = true;
    }
}

QImage canvas(int w, int h, QColor fill = Qt::white) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

struct Palette {
    QColor main, light, deep;
};
const Palette kPalettes[8] = {
    {QColor("#1F4E9A"), QColor("#DCE7F7"), QColor("#0E2C5E")},
    {QColor("#B0500E"), QColor("#FCE6D2"), QColor("#7A3208")},
    {QColor("#5B2C83"), QColor("#ECE0F5"), QColor("#2E1247")},
    {QColor("#A3141E"), QColor("#F8DADC"), QColor("#5C070C")},
    {QColor("#1E6B34"), QColor("#EAF6EC"), QColor("#0D3A1A")},
    {QColor("#A04A0A"), QColor("#FFF8E7"), QColor("#6B3005")},
    {QColor("#23507A"), QColor("#EEF3FA"), QColor("#0F2A45")},
    {QColor("#6A2C70"), QColor("#F3EEF8"), QColor("#3A1240")},
};

void flower(QPainter& p, QPointF centre, double radius, QColor petals, QColor heart) {
    p.setPen(Qt::NoPen);
    p.setBrush(petals);
    for (int i = 0; i < 6; ++i) {
        const double a = i * M_PI / 3;
        p.drawEllipse(QPointF(centre.x() + std::cos(a) * radius * 0.55,
                              centre.y() + std::sin(a) * radius * 0.55),
                      radius * 0.42, radius * 0.42);
    }
    p.setBrush(heart);
    p.drawEllipse(centre, radius * 0.3, radius * 0.3);
}

QImage flowerPicture(int size, const Palette& c) {
    QImage image = canvas(size, size, Qt::transparent);
    QPainter p(&image);  // no antialiasing: a GIF has one transparent colour, no soft edges
    flower(p, QPointF(size / 2.0, size / 2.0), size * 0.48, c.main, QColor("#F4C430"));
    return image;
}

QImage tile(int size, const Palette& c, int pattern) {
    QImage image = canvas(size, size, c.light);
    QPainter p(&image);
    QColor mark = c.main;
    mark.setAlpha(28);
    p.setPen(QPen(mark, 2));
    p.setBrush(mark);
    if (pattern == 0)
        for (int k = -size; k < size; k += 16) p.drawLine(k, size, k + size, 0);
    else if (pattern == 1)
        for (int y = 8; y < size; y += 16)
            for (int x = 8; x < size; x += 16) p.drawEllipse(QPointF(x, y), 2.5, 2.5);
    else
        for (int y = 0; y < size; y += 8) p.drawLine(0, y, size, y);
    return image;
}

QImage bar(int w, int h, const Palette& c) {
    QImage image = canvas(w, h);
    QPainter p(&image);
    // Bands rather than a smooth gradient keep the colours few enough for a GIF.
    const int bands = 24;
    for (int i = 0; i < bands; ++i) {
        const double t = double(i) / (bands - 1);
        const QColor col =
            QColor::fromRgbF(c.deep.redF() + (c.main.redF() - c.deep.redF()) * t,
                             c.deep.greenF() + (c.main.greenF() - c.deep.greenF()) * t,
                             c.deep.blueF() + (c.main.blueF() - c.deep.blueF()) * t);
        p.fillRect(QRect(w * i / bands, 0, w / bands + 1, h), col);
    }
    return image;
}

QImage banner(int w, int h, const Palette& c, const QString& text) {
    QImage image = canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, c.main);
    g.setColorAt(1, c.deep);
    p.fillRect(image.rect(), g);
    QColor ring = c.light;
    ring.setAlpha(60);
    p.setPen(QPen(ring, 3));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(w - 60, h / 2.0), 20 + i * 18, 20 + i * 18);
    if (!text.isEmpty()) {
        QFont f("DejaVu Sans", h > 60 ? 26 : 12, QFont::Bold);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(image.rect().adjusted(24, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    return image;
}

// A parcel with a ribbon: the sample "image" of a design (146 x 144).
QImage sampleImage(const Palette& c) {
    QImage image = canvas(146, 144, c.light);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(c.main);
    p.drawRoundedRect(QRectF(28, 50, 90, 74), 6, 6);
    p.setBrush(c.deep);
    p.drawRoundedRect(QRectF(22, 38, 102, 20), 4, 4);
    p.setBrush(QColor("#F4C430"));
    p.drawRect(QRectF(66, 38, 14, 86));
    p.drawEllipse(QRectF(50, 20, 22, 20));
    p.drawEllipse(QRectF(74, 20, 22, 20));
    return image;
}

// A sample logo (182 x 79): a mark and the words "Your Logo".
QImage sampleLogo(const Palette& c) {
    QImage image = canvas(182, 79);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(c.main);
    p.drawEllipse(QRectF(10, 14, 50, 50));
    flower(p, QPointF(35, 39), 18, Qt::white, c.deep);
    p.setPen(c.deep);
    p.setFont(QFont("DejaVu Sans", 15, QFont::Bold));
    p.drawText(QRectF(68, 12, 112, 30), Qt::AlignLeft | Qt::AlignVCenter, "Your Logo");
    p.setFont(QFont("DejaVu Sans", 8));
    p.drawText(QRectF(68, 42, 112, 20), Qt::AlignLeft | Qt::AlignVCenter, "company slogan");
    return image;
}

// A sketch of a design's page: how the thumbnails and previews show a design.
void sketch(QPainter& p, QRectF r, int design) {
    const Palette& c = kPalettes[design];
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(r, Qt::white);
    const double u = r.width() / 70.0;  // one thumbnail pixel
    auto box = [&](double x, double y, double w, double h) {
        return QRectF(r.x() + x * u, r.y() + y * u, w * u, h * u);
    };
    auto lines = [&](double x, double y, double w, int n, QColor col) {
        for (int i = 0; i < n; ++i)
            p.fillRect(box(x, y + i * 3.2, i == n - 1 ? w * 0.6 : w, 1.4), col);
    };
    QColor grey("#9AA3AD");
    if (design < 4) {
        p.fillRect(r, c.light.lighter(104));
        p.fillRect(box(0, 0, 70, 7), c.main);
        p.fillRect(box(16, 2.8, 38, 1.6), Qt::white);
        p.fillRect(box(4, 11, 30, 4), c.main);
        lines(4, 18, 34, 5, grey);
        p.fillRect(box(44, 10, 22, 22), c.light.darker(110));
        p.setBrush(c.main);
        p.setPen(Qt::NoPen);
        p.drawRect(box(49, 16, 12, 12));
        if (design > 0) flower(p, box(4, 36, 6, 6).center(), 3 * u, c.main, QColor("#F4C430"));
        p.fillRect(box(design > 0 ? 12 : 4, 37, 36, 3), c.main);
        for (int i = 0; i < 4; ++i) {
            p.setBrush(c.main);
            p.drawEllipse(box(6, 45 + i * 4, 1.8, 1.8));
            p.fillRect(box(10, 45.2 + i * 4, 30, 1.4), grey);
        }
        p.fillRect(box(20, 62, 30, 4), c.main);
        p.fillRect(box(4, 68, 18, 5), c.deep);
        p.fillRect(box(50, 70, 16, 1.4), c.main);
        return;
    }
    p.fillRect(r, c.light);
    if (design == 4) {
        QRadialGradient g(box(35, 35, 0, 0).topLeft(), 40 * u);
        g.setColorAt(0, Qt::white);
        g.setColorAt(1, c.light.darker(106));
        p.fillRect(r, g);
        flower(p, box(5, 8, 10, 10).center(), 5 * u, c.main, QColor("#F4C430"));
        p.fillRect(box(18, 10, 34, 4), c.main);
    } else {
        p.fillRect(box(0, 0, 70, 5), c.deep);
        QLinearGradient g(box(0, 6, 70, 15).topLeft(), box(0, 6, 70, 15).bottomRight());
        g.setColorAt(0, c.main);
        g.setColorAt(1, c.deep);
        p.fillRect(box(0, 6, 70, 15), g);
        p.fillRect(box(18, 24, 34, 3), c.main);
    }
    p.fillRect(box(52, design == 4 ? 3 : 1.8, 14, 1.2), design == 4 ? c.main : c.light);
    if (design >= 6) {
        p.fillRect(box(4, 30, 16, 16), c.main.lighter(130));
        lines(23, 31, 42, 5, grey);
    } else {
        lines(4, 30, 62, 4, grey);
    }
    p.fillRect(box(22, 48, 26, 1.6), c.main);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(c.main);
        p.setPen(Qt::NoPen);
        p.drawEllipse(box(6, 52 + i * 4, 1.8, 1.8));
        p.fillRect(box(10, 52.2 + i * 4, 36, 1.4), grey);
    }
    if (design >= 5) p.fillRect(box(26, 62.5, 18, 5.5), c.deep);
    p.fillRect(box(4, 69.5, 62, 1.2), grey);  // the footer line
}

QImage designPicture(int w, int h, int design) {
    QImage image = canvas(w, h);
    QPainter p(&image);
    sketch(p, QRectF(0, 0, w, w), design);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    // Text needs a font database, which needs an application; no window is ever shown.
    static char platform[] = "-platform";
    static char offscreen[] = "offscreen";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, {platform, offscreen});
    int count = int(args.size());
    QGuiApplication app(count, args.data());
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_template_pictures OUT_FOLDER\n");
        return 2;
    }
    outFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outFolder + "/images");
    QDir().mkpath(outFolder + "/Images");

    for (int d = 0; d < 8; ++d) {
        const QString n = QString::number(d + 1);
        saveJpeg(designPicture(70, 75, d), "images/SM" + n + ".jpg");
        saveJpeg(designPicture(370, 370, d), "images/preview" + n + ".jpg");
        saveJpeg(sampleImage(kPalettes[d]), "Images/img" + n + "1.jpg");
        saveJpeg(sampleLogo(kPalettes[d]), "Images/img" + n + "2.jpg");
    }

    saveGif(canvas(1, 1, Qt::transparent), "images/trans.gif");
    saveGif(tile(64, kPalettes[0], 0), "images/layout1_bg.gif");
    saveGif(tile(64, kPalettes[1], 1), "images/layout2_bg.gif");
    saveGif(flowerPicture(40, kPalettes[1]), "images/layout2_flower.gif");
    for (int d : {2, 3}) {
        const QString n = QString::number(d + 1);
        saveGif(flowerPicture(40, kPalettes[d]), "images/layout" + n + "_flower.gif");
        saveJpeg(tile(64, kPalettes[d], 2), "images/layout" + n + "_bg.jpg");
        saveGif(bar(550, 30, kPalettes[d]), "images/layout" + n + "_bg2.gif");
    }
    saveGif(flowerPicture(60, kPalettes[4]), "images/layout5_flower.gif");
    {
        QImage bg = canvas(550, 550, kPalettes[4].light);
        QPainter p(&bg);
        QRadialGradient g(QPointF(275, 200), 420);
        g.setColorAt(0, Qt::white);
        g.setColorAt(1, kPalettes[4].light.darker(108));
        p.fillRect(bg.rect(), g);
        p.end();
        saveJpeg(bg, "images/layout5_bg.jpg");
    }
    const struct {
        int design;
        const char* title;
    } banners[] = {{5, "Theme Sale"}, {6, "New Themes"}, {7, "Spring Collection"}};
    for (const auto& b : banners) {
        const QString n = QString::number(b.design + 1);
        const Palette& c = kPalettes[b.design];
        saveJpeg(banner(550, 120, c, b.title), "images/img" + n + "1.jpg");
        saveJpeg(banner(550, 40, c, {}), "images/img" + n + "3.jpg");
        if (b.design >= 6) saveJpeg(sampleImage(c).scaled(160, 160), "images/img" + n + "4.jpg");
    }
    return failed ? 1 : 0;
}
