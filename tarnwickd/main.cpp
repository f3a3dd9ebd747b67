#include "tarnwickd/Daemon.h"

int main() { return Daemon::run(); }
