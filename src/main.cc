// Entry point: hands the command line to the application object.
#include "app/lumbra_app.h"

int main(int argc, char** argv) {
  CLumbraApp app;
  return app.Run(argc, argv);
}
