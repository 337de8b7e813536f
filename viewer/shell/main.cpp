#include "viewer/shell/vistaro_player_app.h"

int main(int argc, char** argv) {
  CVistaroPlayerApp app;
  return app.Run(argc, argv);
}
