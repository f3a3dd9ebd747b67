#pragma once

// Temperature services: product names and current temperatures in degrees Celsius. On Linux the
// services are the hwmon temperature inputs under the sandbox root, named so that the sensor
// rules find them (role words, then the chip name and label).

#include <cstdint>

// Fills up to `max` 64-byte name slots (NUL-terminated UTF-8) and values; returns the count.
// The service list is found once per process and kept; it is looked for again while a role (chip,
// die, SSD) is missing, often in the first minutes and rarely after, and when an input vanishes.
int32_t hid_temperatures(char* names, double* values, int32_t max);

// Test seam: forgets the process-wide service list so the next call looks it up again.
void hid_reset_services();

// Test seam: moves the clock that paces the looks for late devices forward.
void hid_advance_clock(int32_t milliseconds);
