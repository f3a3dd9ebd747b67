#include "Tarnwick/model/DemoReadings.h"

Readings demoReadings(const QString& name) {
    Readings readings;
    if (name == QLatin1String("hot")) {
        readings.cpu = 97.4;
        readings.gpu = 88.2;
        readings.die = 96.1;
        readings.ssd = 54.3;
        readings.battery = 38.1;
        readings.wifi = 49.6;
        readings.airflow = 47.2;
        readings.palmRest = 36.8;
    } else {
        readings.cpu = 86.3;
        readings.gpu = 74.6;
        readings.die = 85.2;
        readings.ssd = 47.1;
        readings.battery = 36.2;
        readings.wifi = 44.4;
        readings.airflow = 41.3;
        readings.palmRest = 33.7;
    }
    return readings;
}
