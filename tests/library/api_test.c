/* The C library through its header alone, as a program that uses it is built: every
 * outcome and failure code, file to file, memory and a reader to pieces, progress, stops,
 * and two threads at once. Runs in its current folder, which it leaves as it found it.
 * Exit status 0 when every check holds; each failed check is printed. */
#include <velmora.h>

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#include <sys/resource.h>
#define LIMITS_MEMORY 1
#endif

static int failures = 0;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);                \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static const char kTitle[] = "<dl><dt>Title</dt><dd>Value</dd></dl>";
static const char kTitleText[] = "\r\n  Title\r\n    Value";
static const char kRefused[] = "<!-- ZOAK metadata report generated --><dl><dt>A</dt></dl>";

/* ---- helpers ------------------------------------------------------------------------ */

typedef struct Text {
    char* bytes;
    size_t size;
    size_t pieces;
    int stopAfter; /* pieces taken before the write asks to stop; 0 never */
} Text;

static void Append(Text* text, const char* bytes, size_t size) {
    char* grown = realloc(text->bytes, text->size + size + 1);
    if (grown == NULL) {
        abort();
    }
    memcpy(grown + text->size, bytes, size);
    text->bytes = grown;
    text->size += size;
    text->bytes[text->size] = '\0';
}

static int Take(void* user, const char* bytes, size_t size) {
    Text* text = user;
    Append(text, bytes, size);
    ++text->pieces;
    return text->stopAfter > 0 && text->pieces >= (size_t)text->stopAfter;
}

static void WriteFile(const char* path, const char* bytes, size_t size) {
    FILE* file = fopen(path, "wb");
    if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

static Text ReadFile(const char* path) {
    Text text = {NULL, 0, 0, 0};
    char buffer[65536];
    FILE* file = fopen(path, "rb");
    Append(&text, "", 0);
    if (file != NULL) {
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
            Append(&text, buffer, got);
        }
        fclose(file);
    }
    return text;
}

/* A document of about `size` bytes: many terms, each with its definition. */
static Text Large(size_t size) {
    Text text = {NULL, 0, 0, 0};
    char row[64];
    Append(&text, "<dl>", 4);
    for (int i = 0; text.size < size; ++i) {
        const int length = snprintf(row, sizeof row, "<dt>Term %d</dt><dd>Value %d</dd>\n", i, i);
        Append(&text, row, (size_t)length);
    }
    Append(&text, "</dl>", 5);
    return text;
}

/* ---- outcomes ----------------------------------------------------------------------- */

static void OutcomesOfMemory(void) {
    static const struct {
        const char* input;
        velmora_outcome outcome;
        const char* text;
        const char* message;
    } rows[] = {
        {kTitle, VELMORA_CONVERTED, kTitleText, ""},
        {kRefused, VELMORA_REFUSED, "", "ZOAK Metadata Generated HTML Reports Not Supported"},
        {"", VELMORA_EMPTY, "", ""},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        Text out = {NULL, 0, 0, 0};
        velmora_failure failure;
        Append(&out, "", 0);
        CHECK(velmora_convert_memory(rows[i].input, strlen(rows[i].input), Take, NULL, &out,
                                     &failure) == rows[i].outcome);
        CHECK(strcmp(out.bytes, rows[i].text) == 0);
        CHECK(failure.code == VELMORA_FAILURE_NONE);
        CHECK(strcmp(failure.message, rows[i].message) == 0);
        free(out.bytes);
    }
}

static int ChangeTheInput(void* user, float value, float max) {
    (void)value;
    (void)max;
    WriteFile(user, kTitle, sizeof kTitle - 1 - 5); /* shorter: the file has changed */
    return 0;
}

/* Asks to stop at the value given, or at once. */
static int StopAt(void* user, float value, float max) {
    (void)max;
    return user == NULL || value >= *(const float*)user;
}

static void FilesAndTheirFailures(void) {
    velmora_failure failure;
    WriteFile("api_in.html", kTitle, sizeof kTitle - 1);
    WriteFile("api_zoak.html", kRefused, sizeof kRefused - 1);
    WriteFile("api_empty.html", "", 0);

    /* Beside the input, and named; a null failure allowed. */
    CHECK(velmora_convert_file("api_in.html", NULL, &failure) == VELMORA_CONVERTED);
    Text beside = ReadFile("api_in.txt");
    CHECK(strcmp(beside.bytes, kTitleText) == 0);
    CHECK(velmora_convert_file("api_in.html", "api_named.txt", NULL) == VELMORA_CONVERTED);
    Text named = ReadFile("api_named.txt");
    CHECK(strcmp(named.bytes, kTitleText) == 0);
    CHECK(velmora_convert_file("api_zoak.html", "api_zoak.txt", NULL) == VELMORA_REFUSED);
    CHECK(velmora_convert_file("api_empty.html", "api_empty.txt", NULL) == VELMORA_EMPTY);

    static const struct {
        const char* input;
        const char* output;
        velmora_failure_code code;
        int error;
        const char* path;
        const char* message;
    } rows[] = {
        {"api_missing.html", "api_x.txt", VELMORA_FAILURE_READ, ENOENT, "api_missing.html",
         "cannot read \"api_missing.html\": No such file or directory"},
        {"api_in.html", "api_no_folder/x.txt", VELMORA_FAILURE_WRITE, ENOENT, "api_no_folder/x.txt",
         "cannot write \"api_no_folder/x.txt\":"},
        {"api_in.html", "api_in.html", VELMORA_FAILURE_USAGE, 0, "", "the output"},
        {NULL, NULL, VELMORA_FAILURE_USAGE, 0, "", "no input named"},
        {"", "api_x.txt", VELMORA_FAILURE_USAGE, 0, "", "no input named"},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        CHECK(velmora_convert_file(rows[i].input, rows[i].output, &failure) == VELMORA_FAILED);
        CHECK(failure.code == rows[i].code);
        CHECK(failure.error == rows[i].error);
        CHECK(strcmp(failure.path, rows[i].path) == 0);
        CHECK(strncmp(failure.message, rows[i].message, strlen(rows[i].message)) == 0);
    }

    /* Stopped by progress, or the input changed under it: the output is left as it was. */
    static const float kLast = 28;
    CHECK(velmora_convert_file_progress("api_in.html", "api_named.txt", StopAt, NULL, &failure) ==
          VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_STOPPED);
    CHECK(velmora_convert_file_progress("api_in.html", "api_named.txt", StopAt, (void*)&kLast,
                                        &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_STOPPED);
    CHECK(velmora_convert_file_progress("api_in.html", "api_named.txt", ChangeTheInput,
                                        "api_in.html", &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_CHANGED);
    CHECK(strcmp(failure.path, "api_in.html") == 0);
    Text kept = ReadFile("api_named.txt");
    CHECK(strcmp(kept.bytes, kTitleText) == 0);

    char path[16];
    CHECK(velmora_default_output("a/b.c.html", path, sizeof path) == 9);
    CHECK(strcmp(path, "a/b.c.txt") == 0);
    CHECK(velmora_default_output("a/b.c.html", path, 9) == 9 && path[0] == '\0');

    free(beside.bytes);
    free(named.bytes);
    free(kept.bytes);
    const char* made[] = {"api_in.html", "api_zoak.html", "api_empty.html", "api_in.txt",
                          "api_named.txt"};
    for (size_t i = 0; i < sizeof made / sizeof made[0]; ++i) {
        remove(made[i]);
    }
}

/* ---- pieces, readers, progress --------------------------------------------------------- */

typedef struct Reader {
    const Text* from;
    size_t at;
    long long fail; /* a negative errno value to fail with once half is read, or 0 */
} Reader;

static long long Read(void* user, char* buffer, size_t size) {
    Reader* reader = user;
    if (reader->fail != 0 && reader->at >= reader->from->size / 2) {
        return reader->fail;
    }
    size_t count = reader->from->size - reader->at;
    count = count < size ? count : size;
    count = count < 1000 ? count : 1000; /* small reads, as a pipe gives */
    memcpy(buffer, reader->from->bytes + reader->at, count);
    reader->at += count;
    return (long long)count;
}

typedef struct Both {
    Reader reader;
    Text text;
} Both;

static long long ReadBoth(void* user, char* buffer, size_t size) {
    return Read(&((Both*)user)->reader, buffer, size);
}

static int TakeBoth(void* user, const char* bytes, size_t size) {
    return Take(&((Both*)user)->text, bytes, size);
}

typedef struct Progress {
    float values[16];
    float max;
    int count;
} Progress;

static int Record(void* user, float value, float max) {
    Progress* progress = user;
    if (progress->count < 16) {
        progress->values[progress->count] = value;
    }
    ++progress->count;
    progress->max = max;
    return 0;
}

static int TakeWithProgress(void* user, const char* bytes, size_t size) {
    (void)user;
    (void)bytes;
    (void)size;
    return 0;
}

static void PiecesReadersAndProgress(const Text* large, const Text* expected) {
    velmora_failure failure;
    Text out = {NULL, 0, 0, 0};
    Append(&out, "", 0);
    CHECK(velmora_convert_memory(large->bytes, large->size, Take, NULL, &out, &failure) ==
          VELMORA_CONVERTED);
    CHECK(out.size == expected->size && memcmp(out.bytes, expected->bytes, out.size) == 0);
    CHECK(out.pieces > 1);
    free(out.bytes);

    Both both = {{large, 0, 0}, {NULL, 0, 0, 0}};
    Append(&both.text, "", 0);
    CHECK(velmora_convert_stream(ReadBoth, TakeBoth, NULL, &both, &failure) == VELMORA_CONVERTED);
    CHECK(both.text.size == expected->size &&
          memcmp(both.text.bytes, expected->bytes, both.text.size) == 0);
    free(both.text.bytes);

    Both failing = {{large, 0, -EIO}, {NULL, 0, 0, 0}};
    CHECK(velmora_convert_stream(ReadBoth, TakeBoth, NULL, &failing, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_READ && failure.error == EIO);
    CHECK(failing.text.size == 0);
    free(failing.text.bytes);

    Text stopping = {NULL, 0, 0, 1};
    CHECK(velmora_convert_memory(large->bytes, large->size, Take, NULL, &stopping, &failure) ==
          VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_STOPPED && stopping.pieces == 1);
    free(stopping.bytes);

    CHECK(velmora_convert_memory(kTitle, 3, NULL, NULL, NULL, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_USAGE);
    CHECK(velmora_convert_stream(NULL, Take, NULL, NULL, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_USAGE);

    /* The values the window shows for the same document. */
    Progress progress = {{0}, 0, 0};
    static const float window[] = {4, 13, 12, 23, 28};
    CHECK(velmora_convert_memory(kTitle, sizeof kTitle - 1, TakeWithProgress, Record, &progress,
                                 &failure) == VELMORA_CONVERTED);
    CHECK(progress.count == 5 && progress.max == 28);
    CHECK(memcmp(progress.values, window, sizeof window) == 0);
}

/* ---- memory, threads ---------------------------------------------------------------- */

static void NotEnoughMemory(void) {
#ifdef LIMITS_MEMORY
    /* One line longer than the memory left: said as a memory failure, nothing more. */
    const size_t size = (size_t)256 << 20;
    char* input = malloc(size);
    struct rlimit before;
    if (input == NULL || getrlimit(RLIMIT_AS, &before) != 0) {
        free(input);
        return;
    }
    memset(input, 'x', size);
    memcpy(input, "<dl><dt>", 8);
    struct rlimit limit = before;
    limit.rlim_cur = (rlim_t)768 << 20;
    if (setrlimit(RLIMIT_AS, &limit) == 0) {
        Text out = {NULL, 0, 0, 0};
        velmora_failure failure;
        CHECK(velmora_convert_memory(input, size, Take, NULL, &out, &failure) == VELMORA_FAILED);
        CHECK(failure.code == VELMORA_FAILURE_MEMORY && failure.error == ENOMEM);
        free(out.bytes);
        setrlimit(RLIMIT_AS, &before);
    }
    free(input);
#endif
}

typedef struct Job {
    const Text* input;
    Text output;
    velmora_outcome outcome;
} Job;

static void* Convert(void* user) {
    Job* job = user;
    job->outcome =
        velmora_convert_memory(job->input->bytes, job->input->size, Take, NULL, &job->output, NULL);
    return NULL;
}

static void TwoThreads(const Text* large, const Text* expected) {
    Job jobs[2] = {{large, {NULL, 0, 0, 0}, VELMORA_FAILED},
                   {large, {NULL, 0, 0, 0}, VELMORA_FAILED}};
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        CHECK(pthread_create(&threads[i], NULL, Convert, &jobs[i]) == 0);
    }
    for (int i = 0; i < 2; ++i) {
        pthread_join(threads[i], NULL);
        CHECK(jobs[i].outcome == VELMORA_CONVERTED);
        CHECK(jobs[i].output.size == expected->size &&
              memcmp(jobs[i].output.bytes, expected->bytes, expected->size) == 0);
        free(jobs[i].output.bytes);
    }
}

int main(void) {
    CHECK(strcmp(velmora_version(), VELMORA_VERSION) == 0);
    OutcomesOfMemory();
    FilesAndTheirFailures();

    /* Larger than a piece (256 KiB): the file conversion's text is the reference. */
    Text large = Large((size_t)1 << 20);
    WriteFile("api_large.html", large.bytes, large.size);
    CHECK(velmora_convert_file("api_large.html", "api_large.txt", NULL) == VELMORA_CONVERTED);
    Text expected = ReadFile("api_large.txt");
    CHECK(expected.size > large.size / 2);
    remove("api_large.html");
    remove("api_large.txt");

    PiecesReadersAndProgress(&large, &expected);
    TwoThreads(&large, &expected);
    NotEnoughMemory();
    free(large.bytes);
    free(expected.bytes);
    if (failures == 0) {
        printf("every check held\n");
    }
    return failures == 0 ? 0 : 1;
}
