// qvr-screenshot OUT.png: saves the whole screen of the X display named by
// DISPLAY as a PNG, so that scripts can show what a window looked like.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qvr-screenshot OUT.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "qvr-screenshot: no screen\n");
    return 1;
  }
  if (!screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "qvr-screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
