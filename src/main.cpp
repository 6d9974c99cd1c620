#include "app/ui/plowview_main.h"

int main(int argc, char** argv) {
  return PlowviewMain(argc, argv);
}
