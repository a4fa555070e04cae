/* The sensor report's tables: one per structure, the message's exported. */
#include "sensor_report.h"

static const zubEndianInfoEntry_t readingEntries[] = {
    ZUB_ENTRY_U8(SensorReading, channel),
    ZUB_ENTRY_U32(SensorReading, value),
    ZUB_ENTRY_END,
};
static const zubEndianTable_t readingTable = ZUB_ENDIAN_TABLE(SensorReading, readingEntries);

static const zubEndianInfoEntry_t reportEntries[] = {
    ZUB_ENTRY_U16(SensorReport, id),
    ZUB_ENTRY_TABLE(SensorReport, taken, __zub_EndianTable_zubOsalTime_t),
    ZUB_ENTRY_STRING(SensorReport, nameLength, name),
    ZUB_ENTRY_MULTIPLICITY(16), /* a receiver takes at most 16 readings */
    ZUB_ENTRY_VAR8_TABLE(SensorReport, readingCount, readings, readingTable),
    ZUB_ENTRY_FIXED_ARRAY(SensorReport, gain),
    ZUB_ENTRY_VAR32(SensorReport, sampleCount, samples, 2),
    ZUB_ENTRY_END,
};
const zubEndianTable_t sensor_report_table = ZUB_ENDIAN_TABLE(SensorReport, reportEntries);
