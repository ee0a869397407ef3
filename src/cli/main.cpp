// calvex: the command-line front end.
#include "cli/commands.h"
#include "engine/default_drivers.h"

int main(int argc, char** argv) {
  calvex::cli::Backends backends;
  backends.drivers = calvex::DefaultDrivers();
  backends.readers = calvex::DefaultInfoReaders();
  backends.available = calvex::DriverAvailable;
  return calvex::cli::RunCalvex(argc, argv, backends);
}
