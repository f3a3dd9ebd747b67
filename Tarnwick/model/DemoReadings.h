#pragma once

// The fixed temperatures of the demo ("--demo warm|hot").

#include <QString>

#include "FanCore/Policy/Records.h"

// "hot": chips past the hot mark; any other name: warm ones.
Readings demoReadings(const QString& name);
