/*
 * The stream inspector on a user's own tables:
 *
 *   encode --lib PATH TABLE VALUES... [--file OUT]
 *   decode --lib PATH [--json] TABLE HEX...   (or --file CAPTURE)
 *
 * PATH is a shared object (a path with a slash, or a name the dynamic
 * loader finds) and TABLE the name of a zubEndianTable_t it exports. Each
 * command loads the object, finds the table with dlsym, checks it, walks,
 * and unloads the object again.
 *
 * Entries carry no member names, so members are shown by offset and kind,
 * nested structures indented below their member, arrays element by
 * element. Kinds carry no signedness either: integers print unsigned, and
 * encode takes either sign in a member's width.
 *
 * Values for encode, in stream order: one per integer (or several integers
 * joined by commas in one argument); for a counted
 * member its count, then its elements (one value per atom, or the values
 * of each element structure in turn); for a string (a STRING entry of
 * 1-byte atoms) one argument holding the whole text; for a fixed array
 * fixedCount values. Quote texts with blanks.
 *
 * A table from outside is checked before anything is allocated from its
 * sizes: valid kinds and atom sizes, every member (and data pointer) inside
 * its structure, element structures of at least one byte, a structure size
 * the inspector can allocate, and at most kMaxTables tables of at most
 * kMaxEntries entries reachable. What the check cannot see (a pointer that
 * is not a table, a missing terminator) the owner of the object answers for.
 */
#include <dlfcn.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "serial_shell.h"
#include "zub/bounded_allocator.h"
#include "zub/serialization.h"

enum {
    kMaxTables = 64,          /* distinct tables one check follows */
    kMaxEntries = 4096,       /* entries of one table, terminator excluded */
    kMaxSize = 1024 * 1024,   /* bytes of the top-level structure */
    kEncodeBlocks = 256,      /* blocks one encode may allocate */
    kEncodeBudget = 64 * 1024 /* bytes they may hold together */
};
/* Nesting the walks allow below the top-level structure. */
#define MAX_NESTING (ZUB_DESER_DEFAULT_STACK - 1)

static const char *kind_name(unsigned kind)
{
    static const char *const names[16] = {
        "kind 0", "u8",    "u16",    "table", "u32",     "kind 5",  "var8",    "var16",
        "u64",    "var32", "string", "fixed", "kind 12", "kind 13", "kind 14", "modifier"};
    return names[kind & 0xFu];
}

static int is_counted(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 || kind == ZUB_DESER_TYPE_VAR16 ||
           kind == ZUB_DESER_TYPE_VAR32 || kind == ZUB_DESER_TYPE_STRING;
}

/* Bytes of a counted kind's count field. */
static unsigned count_width(unsigned kind)
{
    return kind == ZUB_DESER_TYPE_VAR8 ? 1 : kind == ZUB_DESER_TYPE_VAR32 ? 4 : 2;
}

static int atom_ok(uintptr_t atom)
{
    return atom == 1 || atom == 2 || atom == 4 || atom == 8;
}

static int is_string(const zubEndianInfoEntry_t *e)
{
    return ZUB_ENDIAN_KIND(e) == ZUB_DESER_TYPE_STRING && e->argument.value == 1;
}

/* Why entry e of a structure of `size` bytes cannot be walked, or null. */
static const char *entry_problem(const zubEndianInfoEntry_t *e, uint32_t size)
{
    const unsigned kind = ZUB_ENDIAN_KIND(e);
    const uint64_t offset = e->memberOffset;
    switch (kind) {
    case ZUB_DESER_TYPE_U8:
    case ZUB_DESER_TYPE_U16:
    case ZUB_DESER_TYPE_U32:
    case ZUB_DESER_TYPE_U64:
        return offset + kind > size ? "the member ends past its structure" : NULL;
    case ZUB_DESER_TYPE_TABLE:
        if (!ZUB_ENDIAN_ARGUMENT_IS_TABLE(e))
            return "a nested structure without a table";
        return offset + e->argument.table->size > size ? "the nested structure ends past its own"
                                                       : NULL;
    case ZUB_DESER_TYPE_FIXED:
        if (!atom_ok(e->argument.value))
            return "the atom size is not 1, 2, 4 or 8";
        return offset + (uint64_t)e->argument.value * ZUB_ENDIAN_FIXED_COUNT(e) > size
                   ? "the array ends past its structure"
                   : NULL;
    case ZUB_DESER_TYPE_MODIFIER: return NULL;
    default: break;
    }
    if (!is_counted(kind))
        return "the kind is not a member kind";
    const int64_t pointer = (int64_t)offset + ZUB_ENDIAN_POINTER_OFFSET(e) - 1024;
    if (offset + count_width(kind) > size)
        return "the count ends past its structure";
    if (pointer < 0 || (uint64_t)pointer + sizeof(void *) > size) {
        return "the data pointer lies outside its structure";
    }
    if (ZUB_ENDIAN_ARGUMENT_IS_TABLE(e)) {
        return e->argument.table->size == 0 ? "the element structure has 0 bytes" : NULL;
    }
    return atom_ok(e->argument.value) ? NULL : "the atom size is not 1, 2, 4 or 8";
}

/* Checks every table reachable from `top`; 0, or -1 after a one-line
 * "COMMAND: table NAME refused: ..." message. */
static int check_tables(const char *command, const char *name, const zubEndianTable_t *top)
{
    const zubEndianTable_t *seen[kMaxTables] = {top};
    size_t count = 1;
    if (top->size > kMaxSize) {
        printf("%s: table %s refused: its structure of %" PRIu32 " bytes is above %d\n", command,
               name, top->size, kMaxSize);
        return -1;
    }
    for (size_t t = 0; t < count; t++) {
        const zubEndianTable_t *table = seen[t];
        for (unsigned i = 0; !ZUB_ENDIAN_IS_END(&table->entries[i]); i++) {
            const zubEndianInfoEntry_t *e = &table->entries[i];
            const char *problem =
                i == kMaxEntries ? "no terminator in 4096 entries" : entry_problem(e, table->size);
            if (problem != NULL) {
                printf("%s: table %s refused: entry %u (%s at offset %u) of a %" PRIu32
                       "-byte structure: %s\n",
                       command, name, i, kind_name(ZUB_ENDIAN_KIND(e)), e->memberOffset,
                       table->size, problem);
                return -1;
            }
            const unsigned kind = ZUB_ENDIAN_KIND(e);
            if ((kind == ZUB_DESER_TYPE_TABLE || is_counted(kind)) &&
                ZUB_ENDIAN_ARGUMENT_IS_TABLE(e)) {
                size_t k = 0;
                while (k < count && seen[k] != e->argument.table)
                    k++;
                if (k == count && count == kMaxTables) {
                    printf("%s: table %s refused: more than %d tables\n", command, name,
                           kMaxTables);
                    return -1;
                }
                if (k == count)
                    seen[count++] = e->argument.table;
            }
        }
    }
    return 0;
}

/* Data pointer of counted entry e of the structure at base. */
static void *data_pointer(const uint8_t *base, const zubEndianInfoEntry_t *e)
{
    void *data;
    memcpy(&data, base + e->memberOffset + ZUB_ENDIAN_POINTER_OFFSET(e) - 1024, sizeof data);
    return data;
}

/* ---- decode: print a decoded structure -------------------------------- */

static void print_members(const zubEndianTable_t *table, const uint8_t *base, int indent)
{
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); e++) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        const uint8_t *at = base + e->memberOffset;
        if (kind == ZUB_DESER_TYPE_MODIFIER) {
            continue; /* not a member */
        }
        printf("%*soffset %u %s", indent, "", e->memberOffset, kind_name(kind));
        if (kind == ZUB_DESER_TYPE_TABLE) {
            printf(":\n");
            print_members(e->argument.table, at, indent + 2);
        } else if (kind == ZUB_DESER_TYPE_FIXED) {
            printf(" of %u u%u:", ZUB_ENDIAN_FIXED_COUNT(e), (unsigned)e->argument.value * 8);
            inspect_print_ints(at, ZUB_ENDIAN_FIXED_COUNT(e), (unsigned)e->argument.value, 0, 0);
            printf("\n");
        } else if (!is_counted(kind)) {
            printf(":");
            inspect_print_ints(at, 1, kind, 0, 0);
            printf("\n");
        } else {
            const uint32_t count = (uint32_t)inspect_load_int(at, count_width(kind));
            const uint8_t *data = data_pointer(base, e);
            if (is_string(e)) {
                printf(", %" PRIu32 " bytes: ", count);
                inspect_print_text((const char *)data, count, 0);
                printf("\n");
            } else if (!ZUB_ENDIAN_ARGUMENT_IS_TABLE(e)) {
                printf(" of %" PRIu32 " u%u:", count, (unsigned)e->argument.value * 8);
                inspect_print_ints(data, count, (unsigned)e->argument.value, 0, 0);
                printf("\n");
            } else {
                const zubEndianTable_t *element = e->argument.table;
                printf(" of %" PRIu32 " structures:\n", count);
                for (uint32_t i = 0; i < count; i++) {
                    printf("%*s[%" PRIu32 "]\n", indent + 2, "", i);
                    print_members(element, data + (size_t)i * element->size, indent + 4);
                }
            }
        }
    }
}

/* The same walk as print_members, as a JSON array of member objects:
 * {"offset", "kind", then "value" of an integer, "members" of a nested
 * structure, "count" and "text" of a string, "count" and "values" of an
 * integer array, "count" and "elements" (arrays of members) of an array
 * of structures}. */
static void json_members(const zubEndianTable_t *table, const uint8_t *base,
                         const inspect_type_t *type)
{
    const char *separator = "";
    putchar('[');
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); e++) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        const uint8_t *at = base + e->memberOffset;
        if (kind == ZUB_DESER_TYPE_MODIFIER) {
            continue;
        }
        printf("%s{\"offset\":%u,\"kind\":\"%s\"", separator, e->memberOffset, kind_name(kind));
        separator = ",";
        if (kind == ZUB_DESER_TYPE_TABLE) {
            printf(",\"members\":");
            json_members(e->argument.table, at, type);
        } else if (kind == ZUB_DESER_TYPE_FIXED || !is_counted(kind)) {
            const int fixed = kind == ZUB_DESER_TYPE_FIXED;
            const unsigned width = fixed ? (unsigned)e->argument.value : kind;
            const uint32_t count = fixed ? ZUB_ENDIAN_FIXED_COUNT(e) : 1;
            printf(fixed ? ",\"count\":%" PRIu32 ",\"values\":[" : ",\"value\":", count);
            inspect_print_ints(at, count, width, type->is_signed, 1);
            printf(fixed ? "]" : "");
        } else {
            const uint32_t count = (uint32_t)inspect_load_int(at, count_width(kind));
            const uint8_t *data = data_pointer(base, e);
            printf(",\"count\":%" PRIu32, count);
            if (is_string(e) ||
                (type->texts && !ZUB_ENDIAN_ARGUMENT_IS_TABLE(e) && e->argument.value == 1)) {
                printf(",\"text\":");
                inspect_print_text((const char *)data, count, 1);
            } else if (!ZUB_ENDIAN_ARGUMENT_IS_TABLE(e)) {
                printf(",\"values\":[");
                inspect_print_ints(data, count, (unsigned)e->argument.value, type->is_signed, 1);
                printf("]");
            } else {
                const zubEndianTable_t *element = e->argument.table;
                printf(",\"elements\":[");
                for (uint32_t i = 0; i < count; i++) {
                    printf(i > 0 ? "," : "");
                    json_members(element, data + (size_t)i * element->size, type);
                }
                printf("]");
            }
        }
        putchar('}');
    }
    putchar(']');
}

void inspect_print_json(const inspect_type_t *type, const void *record)
{
    printf("{\"type\":");
    inspect_print_text(type->name, (uint32_t)strlen(type->name), 1);
    printf(",\"size\":%" PRIu32 ",\"members\":", type->table->size);
    json_members(type->table, record, type);
    printf("}\n");
}

static void print_user_record(const inspect_type_t *type, const void *record)
{
    print_members(type->table, record, 0);
}

/* " level 2 element 1, member at offset 4, u32": the nesting level below
 * the top (1 is the top), the element of an array of structures being
 * walked, and the member. */
static void print_user_where(const inspect_type_t *type, const zubDeserState_t *s)
{
    const zubDeserTableState_t *at = &s->current;
    const zubEndianInfoEntry_t *e = at->entry != NULL ? at->entry : at->table->entries;
    (void)type;
    if (s->stackDepth > 1) {
        printf(" level %u", (unsigned)s->stackDepth);
        if (s->stack[s->stackDepth - 1].count != 0) {
            printf(" element %" PRIu32, at->index);
        }
    }
    if (ZUB_ENDIAN_IS_END(e)) {
        printf(", after the last member");
    } else {
        printf(", member at offset %u, %s", e->memberOffset, kind_name(ZUB_ENDIAN_KIND(e)));
    }
}

/* ---- encode: fill a structure from the values -------------------------- */

struct filling {
    inspect_values_t values;
    int32_t taken;                 /* values taken so far */
    zubBoundedAllocator_t *blocks; /* every array comes from here */
};

/* The next value for entry e: a whole argument for a string. */
static const char *take(struct filling *f, const zubEndianInfoEntry_t *e, int whole)
{
    const char *value = inspect_next_value(&f->values, whole);
    if (value != NULL) {
        f->taken++;
        return value;
    }
    printf("encode: more values needed for the %s at offset %u\n", kind_name(ZUB_ENDIAN_KIND(e)),
           e->memberOffset);
    return NULL;
}

static int take_ints(struct filling *f, const zubEndianInfoEntry_t *e, void *array, uint32_t n,
                     unsigned width)
{
    for (uint32_t i = 0; i < n; i++) {
        uint64_t value = 0;
        const char *text = take(f, e, 0);
        if (text == NULL || inspect_parse_int(text, width, INSPECT_EITHER_SIGN, &value) != 0) {
            return -1;
        }
        inspect_store_int(array, i, width, value);
    }
    return 0;
}

static void *take_block(struct filling *f, uint64_t bytes)
{
    void *block = bytes <= SIZE_MAX ? zubBoundedAllocatorAlloc(f->blocks, (size_t)bytes, 0) : NULL;
    if (block == NULL) {
        printf("encode: the arrays need more than %d bytes in %d blocks\n", kEncodeBudget,
               kEncodeBlocks);
    }
    return block;
}

static int fill_members(struct filling *f, const zubEndianTable_t *table, uint8_t *base,
                        unsigned depth);

/* A counted member: its count from the values, then its elements. */
static int fill_counted(struct filling *f, const zubEndianInfoEntry_t *e, uint8_t *base,
                        unsigned depth)
{
    const unsigned width = count_width(ZUB_ENDIAN_KIND(e));
    const char *text = take(f, e, is_string(e));
    uint64_t count = 0;
    void *data = NULL;
    if (text == NULL) {
        return -1;
    }
    if (is_string(e)) {
        count = strlen(text);
        if (count > 0xFFFF) {
            printf("encode: a string holds at most 65535 bytes\n");
            return -1;
        }
        data = take_block(f, count);
        if (data == NULL)
            return -1;
        memcpy(data, text, count);
    } else {
        if (inspect_parse_int(text, width, 0, &count) != 0) {
            return -1;
        }
        const int elements = ZUB_ENDIAN_ARGUMENT_IS_TABLE(e);
        const uint64_t size = elements ? e->argument.table->size : e->argument.value;
        data = take_block(f, count * size);
        if (data == NULL)
            return -1;
        for (uint32_t i = 0; elements && i < count; i++) {
            if (fill_members(f, e->argument.table, (uint8_t *)data + (size_t)i * size, depth + 1) !=
                0) {
                return -1;
            }
        }
        if (!elements && take_ints(f, e, data, (uint32_t)count, (unsigned)size) != 0) {
            return -1;
        }
    }
    inspect_store_int(base + e->memberOffset, 0, width, count);
    memcpy(base + e->memberOffset + ZUB_ENDIAN_POINTER_OFFSET(e) - 1024, &data, sizeof data);
    return 0;
}

static int fill_members(struct filling *f, const zubEndianTable_t *table, uint8_t *base,
                        unsigned depth)
{
    if (depth > MAX_NESTING) {
        printf("encode: the structures nest deeper than %d levels\n", MAX_NESTING);
        return -1;
    }
    for (const zubEndianInfoEntry_t *e = table->entries; !ZUB_ENDIAN_IS_END(e); e++) {
        const unsigned kind = ZUB_ENDIAN_KIND(e);
        uint8_t *at = base + e->memberOffset;
        int result = 0;
        if (kind == ZUB_DESER_TYPE_TABLE) {
            result = fill_members(f, e->argument.table, at, depth + 1);
        } else if (kind == ZUB_DESER_TYPE_FIXED) {
            result = take_ints(f, e, at, ZUB_ENDIAN_FIXED_COUNT(e), (unsigned)e->argument.value);
        } else if (is_counted(kind)) {
            result = fill_counted(f, e, base, depth);
        } else if (kind != ZUB_DESER_TYPE_MODIFIER) {
            result = take_ints(f, e, at, 1, kind);
        }
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

/* ---- the commands -------------------------------------------------------- */

int inspect_lib_command(int encode, const inspect_args_t *a)
{
    const char *command = encode ? "encode" : "decode";
    if (a->count < 1) {
        printf("%s: --lib takes LIB TABLE %s...\n", command, encode ? "VALUES" : "HEX");
        return -1;
    }
    void *library = dlopen(a->lib, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        printf("%s: cannot load %s: %s\n", command, a->lib, dlerror());
        return -1;
    }
    const char *name = a->args[0];
    const zubEndianTable_t *table = dlsym(library, name);
    uint8_t *record = NULL;
    int result = -1;
    if (table == NULL) {
        printf("%s: %s exports no table %s\n", command, a->lib, name);
    } else if (check_tables(command, name, table) == 0 &&
               (record = calloc(1, table->size > 0 ? table->size : 1)) == NULL) {
        printf("%s: out of memory\n", command);
    } else if (record != NULL && encode) {
        zubBoundedAllocator_t bounded;
        void *log[kEncodeBlocks];
        struct filling f = {{a->args + 1, a->count - 1, 0, NULL}, 0, &bounded};
        zubBoundedAllocatorInit(&bounded, kEncodeBudget);
        zubBoundedAllocatorSetLog(&bounded, log, kEncodeBlocks);
        if (fill_members(&f, table, record, 0) != 0) {
            /* said why */
        } else if (f.values.next < f.values.count) {
            printf("encode: %s takes %" PRId32 " values, more are left\n", name, f.taken);
        } else {
            result = inspect_encode(table, record, a->file);
        }
        zubBoundedAllocatorFreeAll(&bounded);
    } else if (record != NULL) {
        uint32_t n = 0;
        uint8_t *bytes = inspect_read_stream(a, 1, &n);
        if (bytes != NULL) {
            const inspect_type_t type = {name, table, print_user_record, print_user_where, NULL,
                                         0,    0};
            result = inspect_decode(&type, record, ZUB_DESER_DEFAULT_STACK, bytes, n, a->json);
        }
        free(bytes);
    }
    free(record);
    dlclose(library);
    return result;
}
