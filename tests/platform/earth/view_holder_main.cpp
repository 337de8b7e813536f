// Holds a view through the stand-in until it is killed: the viewer's part
// in the test that a viewer ended by any means releases Google Earth's
// camera. Arguments: the stand-in's folder. Prints "holding" once the view
// is up.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "platform/com/com_ptr.h"
#include "platform/earth/earth_stand_in.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc != 2) return 2;
  earth::StandInOptions options;
  options.folder = argv[1];
  options.viewHold = std::chrono::minutes(10);
  options.startupSettle = std::chrono::milliseconds(0);
  options.port = 0;
  ComPtr<IApplicationGE> app;
  if (FAILED(earth::CreateApplicationGEStandIn(options, app.Put()))) return 1;
  if (FAILED(app->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 10, 2))) return 1;
  std::puts("holding");
  std::fflush(stdout);
  return QCoreApplication::exec();
}
