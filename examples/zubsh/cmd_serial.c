/*
 * Serialization family: a stream inspector for the predefined types.
 *
 *   encode TYPE VALUES... [--file PATH]
 *          fills the type's host structure from the arguments, serializes
 *          it and prints the stream in hex, four bytes to a group, or
 *          writes it to PATH as binary;
 *   decode [--json] TYPE HEX...   or   decode [--json] TYPE --file PATH
 *          deserializes the stream (hex with blanks, colons and 0x as you
 *          like, or a binary file, - for standard input), prints the
 *          fields (or JSON) and releases what the deserializer allocated.
 *          A stream that ends early, or that the deserializer refuses, is
 *          reported with the member the walk stopped at and why.
 *   encode/decode --lib PATH TABLE ...
 *          the same for a table exported by a user's shared object
 *          (cmd_serial_lib.c).
 *
 * Values: integers in C notation (0x.. hex, a leading - for the signed
 * blobs), each checked against the element width, one per argument or
 * several joined by commas; for string the arguments joined by one blank;
 * for string-array and blob-string one string per argument; for time
 * SECONDS [NANOSECONDS].
 *
 * The deserializer gets a bounded allocator with a block log, so a hostile
 * count costs at most kDecodeBudget bytes and a failed walk gives back
 * every block it took. This file also holds what both halves of the
 * inspector share (serial_shell.h): parsing, printing, the walks.
 */
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "serial_shell.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"
#include "zubsh.h"

enum kind { INTS, STRING, STRINGS, TIME };

struct type {
    const char *name;
    const zubEndianTable_t *table;
    enum kind kind;
    unsigned width; /* element bytes of INTS */
    int is_signed;  /* INTS: elements are signed */
};

static const struct type types[] = {
    {"blob-i8", &__zub_EndianTable_zubDeserBlobInt8_t, INTS, 1, 1},
    {"blob-i16", &__zub_EndianTable_zubDeserBlobInt16_t, INTS, 2, 1},
    {"blob-i32", &__zub_EndianTable_zubDeserBlobInt32_t, INTS, 4, 1},
    {"blob-i64", &__zub_EndianTable_zubDeserBlobInt64_t, INTS, 8, 1},
    {"blob-u8", &__zub_EndianTable_zubDeserBlobUint8_t, INTS, 1, 0},
    {"blob-u16", &__zub_EndianTable_zubDeserBlobUint16_t, INTS, 2, 0},
    {"blob-u32", &__zub_EndianTable_zubDeserBlobUint32_t, INTS, 4, 0},
    {"blob-u64", &__zub_EndianTable_zubDeserBlobUint64_t, INTS, 8, 0},
    {"vector-u8", &__zub_EndianTable_zubDeserVectorU8_t, INTS, 1, 0},
    {"vector-u16", &__zub_EndianTable_zubDeserVectorU16_t, INTS, 2, 0},
    {"vector-u32", &__zub_EndianTable_zubDeserVectorU32_t, INTS, 4, 0},
    {"string", &__zub_EndianTable_zubDeserString_t, STRING, 1, 0},
    {"string-array", &__zub_EndianTable_zubDeserStringArray_t, STRINGS, 0, 0},
    {"blob-string", &__zub_EndianTable_zubDeserBlobString_t, STRINGS, 0, 0},
    {"time", &__zub_EndianTable_zubOsalTime_t, TIME, 0, 1},
};
#define TYPE_COUNT (sizeof types / sizeof types[0])

/* Every predefined structure but time is a count and a data pointer; this
 * record has the same layout as each of them. */
typedef struct {
    uint32_t count;
    void *data;
} counted_t;

/* Largest host structure of the predefined types. */
typedef union {
    counted_t counted;
    zubOsalTime_t time;
} record_t;

/* Bytes one decoded stream may make the deserializer allocate; a capture
 * read from a file may be as long. Every block the deserializer takes
 * stands for a count of at least one byte in the stream, so a stream of n
 * bytes needs a block log of at most n slots. */
static const size_t kDecodeBudget = 4 * 1024 * 1024;

static const struct type *find_type(const char *command, const char *name)
{
    for (size_t i = 0; name != NULL && i < TYPE_COUNT; i++) {
        if (strcmp(types[i].name, name) == 0) {
            return &types[i];
        }
    }
    printf("%s: TYPE is one of", command);
    for (size_t i = 0; i < TYPE_COUNT; i++) {
        printf(" %s", types[i].name);
    }
    printf("\n");
    return NULL;
}

int inspect_parse_args(const char *command, char **argv, int32_t argc, inspect_args_t *a)
{
    memset(a, 0, sizeof *a);
    a->args = malloc((size_t)argc * sizeof *a->args);
    if (a->args == NULL) {
        printf("%s: out of memory\n", command);
        return -1;
    }
    int options = 1;
    for (int32_t i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (options && strcmp(arg, "--") == 0) {
            options = 0;
        } else if (options && strcmp(arg, "--json") == 0) {
            a->json = 1;
        } else if (options && (strcmp(arg, "--lib") == 0 || strcmp(arg, "--file") == 0)) {
            if (i + 1 == argc) {
                printf("%s: %s needs a value\n", command, arg);
                return -1;
            }
            *(arg[2] == 'l' ? &a->lib : &a->file) = argv[++i];
        } else {
            a->args[a->count++] = argv[i];
        }
    }
    return 0;
}

char *inspect_next_value(inspect_values_t *v, int whole)
{
    if (v->next >= v->count) {
        return NULL;
    }
    char *value = v->at != NULL ? v->at : v->args[v->next];
    char *comma = whole ? NULL : strchr(value, ',');
    if (comma != NULL) {
        *comma = '\0';
        v->at = comma + 1;
    } else {
        v->next++;
        v->at = NULL;
    }
    return value;
}

int inspect_parse_int(const char *text, unsigned width, int is_signed, uint64_t *out)
{
    char *end = NULL;
    errno = 0;
    if (is_signed == 1 || (is_signed == INSPECT_EITHER_SIGN && text[0] == '-')) {
        const long long value = strtoll(text, &end, 0);
        const long long limit = width == 8 ? INT64_MAX : (1LL << (width * 8 - 1)) - 1;
        if (errno == 0 && end != text && *end == '\0' && value <= limit && value >= -limit - 1) {
            *out = (uint64_t)value;
            return 0;
        }
    } else if (text[0] != '-') {
        const unsigned long long value = strtoull(text, &end, 0);
        const unsigned long long limit = width == 8 ? UINT64_MAX : (1ULL << (width * 8)) - 1;
        if (errno == 0 && end != text && *end == '\0' && value <= limit) {
            *out = (uint64_t)value;
            return 0;
        }
    }
    printf("encode: \"%s\" is not a %u-bit %sinteger\n", text, width * 8,
           is_signed == INSPECT_EITHER_SIGN ? ""
           : is_signed                      ? "signed "
                                            : "unsigned ");
    return -1;
}

void inspect_store_int(void *array, uint32_t index, unsigned width, uint64_t value)
{
    const uint8_t u8 = (uint8_t)value;
    const uint16_t u16 = (uint16_t)value;
    const uint32_t u32 = (uint32_t)value;
    const void *from = width == 1   ? (const void *)&u8
                       : width == 2 ? (const void *)&u16
                       : width == 4 ? (const void *)&u32
                                    : (const void *)&value;
    memcpy((uint8_t *)array + (size_t)index * width, from, width);
}

uint64_t inspect_load_int(const void *at, unsigned width)
{
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    uint64_t u64;
    void *to = width == 1   ? (void *)&u8
               : width == 2 ? (void *)&u16
               : width == 4 ? (void *)&u32
                            : &u64;
    memcpy(to, at, width);
    return width == 1 ? u8 : width == 2 ? u16 : width == 4 ? u32 : u64;
}

/* Fills `record` from the values; arrays come from malloc and are freed by
 * the caller (record->counted.data, and for strings the one text block
 * `*text`). 0, or -1 with a message. */
static int fill_record(const struct type *type, char **values, int32_t n, record_t *record,
                       char **text)
{
    memset(record, 0, sizeof *record);
    *text = NULL;
    if (type->kind == TIME) {
        uint64_t nanoseconds = 0;
        if (n < 1 || n > 2) {
            printf("encode: time takes SECONDS [NANOSECONDS]\n");
            return -1;
        }
        uint64_t seconds = 0;
        if (inspect_parse_int(values[0], 8, 1, &seconds) != 0 ||
            (n == 2 && inspect_parse_int(values[1], 4, 0, &nanoseconds) != 0)) {
            return -1;
        }
        record->time.seconds = (int64_t)seconds;
        record->time.nanoseconds = (uint32_t)nanoseconds;
        return 0;
    }
    if (type->kind == STRING) {
        size_t length = 0;
        for (int32_t i = 0; i < n; i++) {
            length += strlen(values[i]) + (i > 0);
        }
        if (length > 0xFFFF) {
            printf("encode: a string holds at most 65535 bytes\n");
            return -1;
        }
        char *joined = malloc(length + 1);
        if (joined == NULL) {
            printf("encode: out of memory\n");
            return -1;
        }
        joined[0] = '\0';
        for (int32_t i = 0; i < n; i++) {
            if (i > 0)
                strcat(joined, " ");
            strcat(joined, values[i]);
        }
        record->counted.count = (uint32_t)length;
        record->counted.data = joined;
        return 0;
    }
    /* Integers may come several to an argument: count the commas too. */
    size_t count = (size_t)n;
    for (int32_t i = 0; type->kind == INTS && i < n; i++) {
        for (const char *c = strchr(values[i], ','); c != NULL; c = strchr(c + 1, ',')) {
            count++;
        }
    }
    size_t element = type->kind == STRINGS ? sizeof(zubDeserString_t) : type->width;
    void *array = count <= UINT32_MAX ? malloc(count > 0 ? count * element : 1) : NULL;
    if (array == NULL) {
        printf("encode: out of memory\n");
        return -1;
    }
    record->counted.count = (uint32_t)count;
    record->counted.data = array;
    inspect_values_t ints = {values, n, 0, NULL};
    for (uint32_t i = 0; i < count; i++) {
        if (type->kind == STRINGS) {
            const size_t length = strlen(values[i]);
            zubDeserString_t *s = (zubDeserString_t *)array + i;
            if (length > 0xFFFF) {
                printf("encode: a string holds at most 65535 bytes\n");
                return -1;
            }
            s->count = (uint32_t)length;
            s->data = values[i];
        } else {
            uint64_t value = 0;
            if (inspect_parse_int(inspect_next_value(&ints, 0), type->width, type->is_signed,
                                  &value) != 0) {
                return -1;
            }
            inspect_store_int(array, i, type->width, value);
        }
    }
    return 0;
}

/* The stream in hex, or written whole to `file` (- for standard output). */
static int put_stream(const uint8_t *bytes, int32_t n, const char *file)
{
    if (file != NULL) {
        const int to_stdout = strcmp(file, "-") == 0;
        FILE *out = to_stdout ? stdout : fopen(file, "wb");
        int failed = out == NULL || fwrite(bytes, 1, (size_t)n, out) != (size_t)n;
        failed |= out != NULL && (to_stdout ? fflush(out) : fclose(out)) != 0;
        if (failed) {
            printf("encode: cannot write %s: %s\n", file, strerror(errno));
        }
        return failed ? -1 : 0;
    }
    printf("%" PRId32 " bytes:", n);
    for (int32_t i = 0; i < n; i++) {
        printf("%s%02x", i % 4 == 0 ? " " : "", bytes[i]);
    }
    printf("\n");
    return 0;
}

int inspect_encode(const zubEndianTable_t *table, const void *record, const char *file)
{
    const int64_t size = zubSerializedSize(table, record);
    if (size < 0) {
        printf("encode: the serializer failed with %" PRId64 "\n", size);
        return -1;
    }
    if (size > INT32_MAX) {
        printf("encode: the stream of %" PRId64 " bytes is too long\n", size);
        return -1;
    }
    uint8_t *stream = malloc(size > 0 ? (size_t)size : 1);
    if (stream == NULL) {
        printf("encode: out of memory\n");
        return -1;
    }
    const int result =
        put_stream(stream, zubSimpleSerializeInto(stream, (uint32_t)size, table, record), file);
    free(stream);
    return result;
}

static int cmd_encode(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    inspect_args_t a;
    int result = inspect_parse_args("encode", argv, argc, &a);
    const struct type *type = NULL;
    if (result == 0 && a.lib != NULL) {
        result = inspect_lib_command(1, &a);
    } else if (result == 0 &&
               (type = find_type("encode", a.count > 0 ? a.args[0] : NULL)) != NULL) {
        record_t record;
        char *text = NULL;
        result = fill_record(type, a.args + 1, a.count - 1, &record, &text);
        if (result == 0) {
            result = inspect_encode(type->table, &record, a.file);
        }
        if (type->kind != TIME) {
            free(record.counted.data);
        }
        free(text);
    } else if (result == 0) {
        result = -1;
    }
    free(a.args);
    return result;
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* The bytes of hex text split as the user likes: blanks and colons
 * anywhere, and 0x before a group of digits. Null with a message. */
static uint8_t *parse_hex(char **args, int32_t argc, uint32_t *n)
{
    size_t digits = 0;
    for (int pass = 0; pass < 2; pass++) {
        uint8_t *bytes = pass == 0 ? NULL : malloc(digits / 2 + 1);
        if (pass == 1 && (digits % 2 != 0 || bytes == NULL)) {
            printf(bytes == NULL ? "decode: out of memory\n"
                                 : "decode: odd number of hex digits\n");
            free(bytes);
            return NULL;
        }
        digits = 0;
        for (int32_t i = 0; i < argc; i++) {
            for (const char *p = args[i]; *p != '\0'; p++) {
                const int group = p == args[i] || strchr(" \t:", p[-1]) != NULL;
                if (group && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) {
                    p++;
                } else if (hex_digit(*p) >= 0) {
                    if (bytes != NULL && digits % 2 != 0) {
                        bytes[digits / 2] = (uint8_t)(bytes[digits / 2] << 4 | hex_digit(*p));
                    } else if (bytes != NULL) {
                        bytes[digits / 2] = (uint8_t)hex_digit(*p);
                    }
                    digits++;
                } else if (strchr(" \t:", *p) == NULL) {
                    printf("decode: \"%s\" is not hex\n", args[i]);
                    return NULL;
                }
            }
        }
        if (pass == 1) {
            *n = (uint32_t)(digits / 2);
            return bytes;
        }
    }
    return NULL;
}

/* The whole file (- for standard input), at most kDecodeBudget bytes. */
static uint8_t *read_file(const char *path, uint32_t *n)
{
    const int from_stdin = strcmp(path, "-") == 0;
    FILE *in = from_stdin ? stdin : fopen(path, "rb");
    uint8_t *bytes = NULL;
    size_t length = 0, capacity = 0;
    int failed = in == NULL;
    while (!failed && length <= kDecodeBudget) {
        if (length == capacity) {
            capacity = capacity == 0 ? 4096 : 2 * capacity;
            uint8_t *grown = realloc(bytes, capacity);
            failed = grown == NULL;
            bytes = failed ? bytes : grown;
            if (failed) {
                break;
            }
        }
        const size_t got = fread(bytes + length, 1, capacity - length, in);
        length += got;
        failed = ferror(in);
        if (got == 0 || feof(in)) {
            break;
        }
    }
    if (failed) {
        printf("decode: cannot read %s: %s\n", path, strerror(errno));
    } else if (length > kDecodeBudget) {
        printf("decode: %s holds more than %zu bytes\n", path, kDecodeBudget);
        failed = 1;
    }
    if (in != NULL && !from_stdin) {
        fclose(in);
    }
    if (failed) {
        free(bytes);
        return NULL;
    }
    *n = (uint32_t)length;
    return bytes != NULL ? bytes : malloc(1);
}

uint8_t *inspect_read_stream(const inspect_args_t *a, int32_t first, uint32_t *n)
{
    if (a->file == NULL) {
        return parse_hex(a->args + first, a->count - first, n);
    }
    if (a->count > first) {
        printf("decode: either HEX or --file, not both\n");
        return NULL;
    }
    return read_file(a->file, n);
}

void inspect_print_text(const char *text, uint32_t length, int json)
{
    putchar('"');
    for (uint32_t i = 0; i < length; i++) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\') {
            printf("\\%c", c);
        } else if (c >= 0x20 && c < 0x7F) {
            putchar(c);
        } else {
            /* JSON has no byte escape: a byte becomes the code point of its value. */
            printf(json ? "\\u%04x" : "\\x%02x", c);
        }
    }
    putchar('"');
}

void inspect_print_ints(const void *data, uint32_t count, unsigned width, int is_signed, int json)
{
    /* Flipping the sign bit and taking it away again sign-extends. */
    const uint64_t sign = 1ull << (width * 8 - 1);
    for (uint32_t i = 0; i < count; i++) {
        const uint64_t u = inspect_load_int((const uint8_t *)data + (size_t)i * width, width);
        const int64_t v = (int64_t)((u ^ sign) - sign);
        const char *separator = !json ? " " : i > 0 ? "," : "";
        if (is_signed) {
            printf("%s%" PRId64, separator, v);
        } else {
            printf("%s%" PRIu64, separator, u);
        }
    }
}

static void print_record(const inspect_type_t *inspected, const void *data)
{
    const struct type *type = inspected->detail;
    const record_t *record = data;
    if (type->kind == TIME) {
        printf("seconds %" PRId64 " nanoseconds %" PRIu32 "\n", record->time.seconds,
               record->time.nanoseconds);
        return;
    }
    const uint32_t count = record->counted.count;
    printf("count %" PRIu32 ":", count);
    if (type->kind == STRING) {
        putchar(' ');
        inspect_print_text(record->counted.data, count, 0);
    }
    for (uint32_t i = 0; type->kind == STRINGS && i < count; i++) {
        const zubDeserString_t *s = (const zubDeserString_t *)record->counted.data + i;
        printf(" [%" PRIu32 "] ", i);
        inspect_print_text(s->data, s->count, 0);
    }
    if (type->kind == INTS) {
        inspect_print_ints(record->counted.data, count, type->width, type->is_signed, 0);
    }
    printf("\n");
}

/* Names the member a stopped walk stands at: the structure (the type, or
 * element i of its array) and the member within it. */
static void print_where(const inspect_type_t *inspected, const zubDeserState_t *s)
{
    const struct type *type = inspected->detail;
    const zubDeserTableState_t *at = &s->current;
    const int first_entry =
        at->entry == NULL || at->table == NULL || at->entry == at->table->entries;
    const int in_element = s->stackDepth > 1 || at->table != type->table;
    const char *member;
    if (type->kind == TIME) {
        member = first_entry ? "seconds" : "nanoseconds";
    } else if (s->state == ZUB_DIS_READ_ARRAY || s->state == ZUB_DIS_START_ARRAY) {
        member = in_element || type->kind == STRING ? "characters" : "elements";
    } else {
        member = in_element || type->kind == STRING ? "length" : "count";
    }
    if (in_element) {
        printf(" element %" PRIu32, at->index);
    }
    printf(", member %s", member);
}

/* Where a stopped walk stands and why it stopped, on one line. */
static void print_stop(const inspect_type_t *type, const zubDeserState_t *s, uint32_t n,
                       int32_t result)
{
    const zubDeserTableState_t *at = &s->current;
    const zubEndianInfoEntry_t *entries = at->table != NULL ? at->table->entries : NULL;
    const long entry = entries != NULL && at->entry != NULL ? (long)(at->entry - entries) : 0;
    printf("decode: stopped in %s", type->name);
    type->where(type, s);
    printf(" (entry %ld, field %s), after %" PRIu32 " of %" PRIu32 " bytes", entry,
           _zubDeserGetFieldName(), s->totalBytes, n);
    if (s->errorCode == ZUB_DES_ERR_XRUN && s->totalBytesOfMember != 0) {
        printf(", %" PRIu32 " of its %" PRIu32 " bytes read", s->bytesOfMemberDone,
               s->totalBytesOfMember);
    }
    printf(": ");
    if (result == -1) {
        printf("the member's data exceed 0x200000 bytes\n");
    } else if (result == ZUB_ESTACKFULL) {
        printf("the structures nest deeper than the %u-record stack\n", (unsigned)s->stackCapacity);
    } else if (result != 0) {
        printf("the deserializer refused the stream (%" PRId32 ")\n", result);
    } else if (s->errorCode == ZUB_DES_ERR_NOMEM) {
        printf("a count asks for more than the %zu-byte budget\n", kDecodeBudget);
    } else if (s->errorCode == ZUB_DES_ERR_MULTIPLICITY) {
        printf("a count exceeds its limit\n");
    } else {
        printf("the stream ends here, more bytes needed\n");
    }
}

int inspect_decode(const inspect_type_t *type, void *record, uint16_t stackCapacity, uint8_t *bytes,
                   uint32_t n, int json)
{
    void **log = malloc(((size_t)n + 1) * sizeof *log);
    if (log == NULL) {
        printf("decode: out of memory\n");
        return -1;
    }
    zubBoundedAllocator_t bounded;
    zubDeserTableState_t stack[ZUB_DESER_DEFAULT_STACK];
    zubDeserState_t s;
    memset(&s, 0, sizeof s);
    s.stack = stack;
    s.stackCapacity =
        stackCapacity < ZUB_DESER_DEFAULT_STACK ? stackCapacity : ZUB_DESER_DEFAULT_STACK;
    s.allocator = zubBoundedAllocatorInit(&bounded, kDecodeBudget);
    zubBoundedAllocatorSetLog(&bounded, log, (size_t)n + 1);
    s.current.table = type->table;
    s.current.base = record;
    s.state = ZUB_DIS_START_TABLE;
    _zubDeserStatePushTable(&s);
    s.buffer = bytes;
    s.bufferLength = n;
    s.bufferPosition = 0;
    const int32_t result = _zubDeserializeTableFrom(&s);

    const int done = result == 0 && s.state == ZUB_DIS_DONE;
    if (done) {
        if (json) {
            inspect_print_json(type, record);
        } else {
            type->print(type, record);
        }
        if (s.bufferPosition < n) {
            printf("decode: %" PRIu32 " bytes after the end of the %s left over\n",
                   n - s.bufferPosition, type->name);
        }
        _zubDeserMemoryDealloc(type->table, record, -1);
        zubBoundedAllocatorReset(&bounded);
    } else {
        print_stop(type, &s, n, result);
        zubBoundedAllocatorFreeAll(&bounded);
    }
    free(log);
    return done ? 0 : -1;
}

static int cmd_decode(vklState_t *console, uintptr_t context, char **argv, int32_t argc)
{
    (void)console;
    (void)context;
    inspect_args_t a;
    int result = inspect_parse_args("decode", argv, argc, &a);
    const struct type *type = NULL;
    if (result == 0 && a.lib != NULL) {
        result = inspect_lib_command(0, &a);
    } else if (result == 0 &&
               (type = find_type("decode", a.count > 0 ? a.args[0] : NULL)) != NULL) {
        uint32_t n = 0;
        uint8_t *bytes = inspect_read_stream(&a, 1, &n);
        const inspect_type_t inspected = {type->name,        type->table, print_record,
                                          print_where,       type,        type->is_signed,
                                          type->kind != INTS};
        record_t record;
        memset(&record, 0, sizeof record);
        result = bytes != NULL ? inspect_decode(&inspected, &record, 4, bytes, n, a.json) : -1;
        free(bytes);
    } else if (result == 0) {
        result = -1;
    }
    free(a.args);
    return result;
}

static const zubsh_command_t commands[] = {
    {"decode", cmd_decode, "decode [--lib LIB] [--json] TYPE HEX... | --file PATH: print a stream"},
    {"encode", cmd_encode, "encode [--lib LIB] TYPE VALUES... [--file PATH]: make a stream"},
};

int zubsh_register_serial(vklState_t *console)
{
    return zubsh_add(console, commands, sizeof commands / sizeof commands[0]);
}
