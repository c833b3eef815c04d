#include "app/program_icon.hpp"

namespace fw {

QIcon ProgramIcon() {
  QIcon builtIn;
  for (const int size : {16, 32, 48, 128, 256}) {
    builtIn.addFile(QString(":/ferrowipe/icons/%1/ferrowipe.png").arg(size), QSize(size, size));
  }
  return QIcon::fromTheme("ferrowipe", builtIn);
}

}  // namespace fw
