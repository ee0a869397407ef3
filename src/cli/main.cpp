// calvex: the command-line front end.
#include "cli/commands.h"
#include "engine/default_drivers.h"
#include "media_library/media_library.h"

int main(int argc, char** argv) {
  calvex::cli::Backends backends;
  backends.drivers = calvex::DefaultDrivers();
  backends.readers = calvex::DefaultInfoReaders();
  backends.codecName = calvex::media::myGetCodecName;
  return calvex::cli::RunCalvex(argc, argv, backends);
}
