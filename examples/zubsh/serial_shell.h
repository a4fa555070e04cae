/*
 * zubsh's stream inspector, shared by its two halves: the predefined types
 * (cmd_serial.c) and the tables of a user's shared object (cmd_serial_lib.c).
 * Both walk streams the same way and print values with the same helpers.
 */
#ifndef ZUBSH_SERIAL_INSPECT_H
#define ZUBSH_SERIAL_INSPECT_H

#include <stdint.h>

#include "zub/serialization.h"

/* A type the inspector decodes: its name in messages, its table, how to
 * print a decoded record, and how to name the member a stopped walk stands
 * at (printed after "stopped in NAME", e.g. " element 1, member length"). */
typedef struct inspect_type inspect_type_t;
struct inspect_type {
    const char *name;
    const zubEndianTable_t *table;
    void (*print)(const inspect_type_t *type, const void *record);
    void (*where)(const inspect_type_t *type, const zubDeserState_t *s);
    const void *detail; /* the half's own description of the type */
};

/* Any-sign mode of inspect_parse_int: a leading - takes the signed range. */
enum { INSPECT_EITHER_SIGN = 2 };

/* Parses an integer in C notation that fits `width` bytes (two's complement
 * when negative) into *out. 0, or -1 with an "encode:" message.
 * is_signed: 0 unsigned, 1 signed, INSPECT_EITHER_SIGN either. */
int inspect_parse_int(const char *text, unsigned width, int is_signed, uint64_t *out);

/* Stores `value` as element `index` of an array of `width`-byte integers. */
void inspect_store_int(void *array, uint32_t index, unsigned width, uint64_t value);

/* The bytes of the hex arguments (malloc), or null with a "decode:"
 * message; *n their count. */
uint8_t *inspect_parse_hex(char **args, int32_t argc, uint32_t *n);

/* Prints " v0 v1 ..." for count integers of `width` bytes at data, signed
 * or unsigned, and a quoted, escaped text. Neither ends the line. */
void inspect_print_ints(const void *data, uint32_t count, unsigned width, int is_signed);
void inspect_print_text(const char *text, uint32_t length);

/* Sizes the stream of record, serializes it and prints it in hex, or says
 * why not ("encode: ..."). */
void inspect_encode(const zubEndianTable_t *table, const void *record);

/* Deserializes bytes into record (zero-filled, type->table's size) with a
 * bounded allocator and a stack of stackCapacity records; prints it and
 * releases its blocks, or prints where and why the walk stopped. */
void inspect_decode(const inspect_type_t *type, void *record, uint16_t stackCapacity,
                    uint8_t *bytes, uint32_t n);

/* encode/decode --lib PATH TABLE ...: argv[0] is the command, argv[1]
 * "--lib". Always 0 (the console goes on). */
int inspect_lib_command(int encode, char **argv, int32_t argc);

#endif
