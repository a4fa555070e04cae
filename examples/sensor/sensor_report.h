/*
 * Example of a user's own message type and its exported type description
 * table, built as the shared object libsensor-report.so. zubsh loads it to
 * encode and decode sensor reports:
 *
 *     encode --lib ./libsensor-report.so sensor_report_table VALUES...
 *     decode --lib ./libsensor-report.so sensor_report_table HEX...
 *
 * The table is an ordinary constant object with C linkage and default
 * visibility: dlsym finds it by its name.
 */
#ifndef SENSOR_REPORT_H
#define SENSOR_REPORT_H

#include <stdint.h>

#include "zub/serialization.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    uint8_t channel;
    uint32_t value;
} SensorReading;

/* Counts and scalars first, pointers last: the offsets zubsh prints are
 * then the same on armhf and on 64-bit hosts. Members go into the stream in
 * table order, not in this order. */
typedef struct {
    uint16_t id;
    uint16_t nameLength;  /* counted name, no NUL */
    uint8_t readingCount; /* up to 16 readings */
    uint16_t gain[3];     /* always three, no count sent */
    uint32_t sampleCount; /* raw 16-bit samples */
    zubOsalTime_t taken;  /* the library's predefined time structure */
    char *name;
    SensorReading *readings;
    uint16_t *samples;
} SensorReport;

/* The exported table: dlsym(handle, "sensor_report_table"). */
#if defined(__GNUC__)
__attribute__((visibility("default")))
#endif
extern const zubEndianTable_t sensor_report_table;

#ifdef __cplusplus
}
#endif

#endif
