// Draws the application's pictures: mirravale.png (256 x 256, the application icon) and tray.png
// (36 x 36, the tray's template: black on transparency). The PNGs beside this file are its
// output and are what the program embeds; after changing a drawing, rebuild them from the
// repository root with
//
//   g++ -std=c++20 -fPIC host/resources/draw_icons.cpp $(pkg-config --cflags --libs Qt6Gui) \
//       -o /tmp/draw_icons && QT_QPA_PLATFORM=offscreen /tmp/draw_icons host/resources

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace {

// A screen on its stand, and a phone standing in front of its lower right corner: the phone
// shows (mirrors) the screen.
void draw_application(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, QColor(64, 56, 130));
    background.setColorAt(1, QColor(23, 20, 46));
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 240, 240), 54, 54);
    p.fillPath(tile, background);

    const QColor screen_edge(236, 234, 250);
    p.setPen(QPen(screen_edge, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(44, 39, 92));
    p.drawRoundedRect(QRectF(40, 56, 164, 112), 12, 12);
    p.drawLine(QPointF(122, 174), QPointF(122, 194));
    p.drawLine(QPointF(92, 198), QPointF(152, 198));

    // The phone, cut out of the screen by a ring of the tile's colour.
    const QRectF phone(148, 108, 68, 116);
    p.setPen(QPen(QColor(30, 26, 62), 10));
    p.setBrush(QColor(255, 122, 89));
    p.drawRoundedRect(phone, 14, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 236, 228));
    p.drawRoundedRect(phone.adjusted(10, 16, -10, -22), 4, 4);
    p.drawEllipse(QPointF(phone.center().x(), phone.bottom() - 11), 4, 4);
}

void draw_tray(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 5.5, 25, 17), 2.5, 2.5);
    p.drawLine(QPointF(15, 24), QPointF(15, 28));
    p.drawLine(QPointF(9.5, 29.5), QPointF(19.5, 29.5));

    const QRectF phone(21, 14, 12, 20);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::transparent, 4));
    p.drawRoundedRect(phone, 3, 3);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(phone, 3, 3);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawRoundedRect(phone.adjusted(2.5, 3, -2.5, -4.5), 1, 1);
}

bool save(const QString& folder, const char* name, int side, void (*draw)(QPainter&)) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        draw(painter);
    }
    return image.save(folder + "/" + name, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = save(folder, "mirravale.png", 256, draw_application) &&
                    save(folder, "tray.png", 36, draw_tray);
    return ok ? 0 : 1;
}
