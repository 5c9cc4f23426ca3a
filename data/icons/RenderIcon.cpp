// Renders the program's SVG icon into PNG files of the given sizes:
//   marrowick_render_icon ICON.svg OUT.png SIZE [OUT.png SIZE ...]
// The build runs it for the desktop's icon theme and for the copy beside
// the program. Exits non-zero, with a message, when the SVG cannot be read
// or a PNG cannot be written.
#include <cstdio>
#include <cstdlib>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

int main(int argc, char* argv[]) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: %s ICON.svg OUT.png SIZE [OUT.png SIZE ...]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "%s: cannot read the icon %s\n", argv[0], argv[1]);
    return 1;
  }
  for (int i = 2; i + 1 < argc; i += 2) {
    const int size = std::atoi(argv[i + 1]);
    if (size <= 0 || size > 4096) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i + 1]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      renderer.render(&painter, QRectF(0, 0, size, size));
    }
    if (!image.save(QString::fromLocal8Bit(argv[i]), "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[i]);
      return 1;
    }
  }
  return 0;
}
