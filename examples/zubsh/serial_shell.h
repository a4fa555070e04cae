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
    int is_signed;      /* integers print signed (predefined signed blobs, time) */
    int texts;          /* arrays of bytes print as texts (predefined string types) */
};

/* A command's arguments with the options taken out: --lib LIB, --file
 * PATH and --json may stand anywhere, -- ends the options. args[0] is
 * TYPE (or TABLE), the values or hex follow it. */
typedef struct inspect_args {
    const char *lib;
    const char *file;
    int json;
    char **args; /* malloc */
    int32_t count;
} inspect_args_t;

/* 0, or -1 with a message ("COMMAND: ..."). Free a->args afterwards. */
int inspect_parse_args(const char *command, char **argv, int32_t argc, inspect_args_t *a);

/* The values of encode, in order: one per argument, or for integers
 * several in one argument, joined by commas. */
typedef struct inspect_values {
    char **args;
    int32_t count;
    int32_t next; /* the argument the next value comes from */
    char *at;     /* where in it the next value starts, or null at its start */
} inspect_values_t;

/* The next value, or null when none is left: the rest of its argument
 * when `whole` (a text), otherwise up to the next comma. */
char *inspect_next_value(inspect_values_t *v, int whole);

/* Any-sign mode of inspect_parse_int: a leading - takes the signed range. */
enum { INSPECT_EITHER_SIGN = 2 };

/* Parses an integer in C notation that fits `width` bytes (two's complement
 * when negative) into *out. 0, or -1 with an "encode:" message.
 * is_signed: 0 unsigned, 1 signed, INSPECT_EITHER_SIGN either. */
int inspect_parse_int(const char *text, unsigned width, int is_signed, uint64_t *out);

/* Stores `value` as element `index` of an array of `width`-byte integers. */
void inspect_store_int(void *array, uint32_t index, unsigned width, uint64_t value);
/* Loads the `width`-byte integer at `at` (1, 2, 4 or 8 bytes). */
uint64_t inspect_load_int(const void *at, unsigned width);

/* The stream to decode (malloc): the file of a->file, or the hex of
 * a->args from `first` on. Null with a "decode:" message; *n its bytes. */
uint8_t *inspect_read_stream(const inspect_args_t *a, int32_t first, uint32_t *n);

/* Prints count integers of `width` bytes at data, signed or unsigned, as
 * " v0 v1 ..." or, for JSON, "v0,v1,...". Does not end the line. */
void inspect_print_ints(const void *data, uint32_t count, unsigned width, int is_signed, int json);
/* Prints a quoted text, escaped for C or for JSON. */
void inspect_print_text(const char *text, uint32_t length, int json);

/* Prints a decoded record as one JSON object: the type's name and its
 * members by offset and kind (generic over the table). */
void inspect_print_json(const inspect_type_t *type, const void *record);

/* Sizes the stream of record, serializes it and prints it in hex, or
 * writes it to the file `file` when not null; 0, or -1 after saying why
 * not ("encode: ..."). */
int inspect_encode(const zubEndianTable_t *table, const void *record, const char *file);

/* Deserializes bytes into record (zero-filled, type->table's size) with a
 * bounded allocator and a stack of stackCapacity records; prints it (as
 * JSON when asked) and releases its blocks, or prints where and why the
 * walk stopped. 0 when the stream decoded whole, else -1. */
int inspect_decode(const inspect_type_t *type, void *record, uint16_t stackCapacity, uint8_t *bytes,
                   uint32_t n, int json);

/* encode/decode with --lib: a->args[0] names the table. 0 or -1. */
int inspect_lib_command(int encode, const inspect_args_t *a);

#endif
