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

/* The text a write callback was given; first in each callback's user data below, so that
 * Take serves them all. */
typedef struct Text {
    char* bytes;
    size_t size;
    size_t pieces;
    size_t stopAfter; /* pieces taken before the write asks to stop; 0 never */
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
    return ++text->pieces == text->stopAfter;
}

static int Same(const Text* text, const char* bytes, size_t size) {
    return text->size == size && (size == 0 || memcmp(text->bytes, bytes, size) == 0);
}

static void WriteFile(const char* path, const char* bytes, size_t size) {
    FILE* file = fopen(path, "wb");
    if (file == NULL || fwrite(bytes, 1, size, file) != size || fclose(file) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

static Text ReadFile(const char* path) {
    Text text = {0};
    char buffer[65536];
    size_t got;
    FILE* file = fopen(path, "rb");
    while (file != NULL && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        Append(&text, buffer, got);
    }
    if (file != NULL) {
        fclose(file);
    }
    return text;
}

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
        Text out = {0};
        velmora_failure failure;
        CHECK(velmora_convert_memory(rows[i].input, strlen(rows[i].input), Take, NULL, &out,
                                     &failure) == rows[i].outcome);
        CHECK(Same(&out, rows[i].text, strlen(rows[i].text)));
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
    CHECK(velmora_convert_file("api_in.html", "api_named.txt", NULL) == VELMORA_CONVERTED);
    CHECK(velmora_convert_file("api_zoak.html", "api_zoak.txt", NULL) == VELMORA_REFUSED);
    CHECK(velmora_convert_file("api_empty.html", "api_empty.txt", NULL) == VELMORA_EMPTY);

    static const float kLast = 28;
    static const struct {
        const char* input;
        const char* output;
        velmora_progress_fn progress;
        const void* user;
        velmora_failure_code code;
        int error;
        const char* path;
        const char* message;
    } rows[] = {
        {"api_missing.html", "api_x.txt", NULL, NULL, VELMORA_FAILURE_READ, ENOENT,
         "api_missing.html", "cannot read \"api_missing.html\": No such file or directory"},
        {"api_in.html", "api_no_folder/x.txt", NULL, NULL, VELMORA_FAILURE_WRITE, ENOENT,
         "api_no_folder/x.txt", "cannot write \"api_no_folder/x.txt\":"},
        {"api_in.html", "api_in.html", NULL, NULL, VELMORA_FAILURE_USAGE, 0, "", "the output"},
        {NULL, NULL, NULL, NULL, VELMORA_FAILURE_USAGE, 0, "", "no input named"},
        {"", "api_x.txt", NULL, NULL, VELMORA_FAILURE_USAGE, 0, "", "no input named"},
        /* The output named is left as it was by these. */
        {"api_in.html", "api_named.txt", StopAt, NULL, VELMORA_FAILURE_STOPPED, 0, "api_in.html",
         "cannot convert \"api_in.html\": stopped"},
        {"api_in.html", "api_named.txt", StopAt, &kLast, VELMORA_FAILURE_STOPPED, 0, "api_in.html",
         "cannot convert"},
        {"api_in.html", "api_named.txt", ChangeTheInput, "api_in.html", VELMORA_FAILURE_CHANGED, 0,
         "api_in.html", "cannot read \"api_in.html\": the file changed"},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        CHECK(velmora_convert_file_progress(rows[i].input, rows[i].output, rows[i].progress,
                                            (void*)rows[i].user, &failure) == VELMORA_FAILED);
        CHECK(failure.code == rows[i].code);
        CHECK(failure.error == rows[i].error);
        CHECK(strcmp(failure.path, rows[i].path) == 0);
        CHECK(strncmp(failure.message, rows[i].message, strlen(rows[i].message)) == 0);
    }
    const char* outputs[] = {"api_in.txt", "api_named.txt"};
    for (size_t i = 0; i < 2; ++i) {
        Text text = ReadFile(outputs[i]);
        CHECK(Same(&text, kTitleText, sizeof kTitleText - 1));
        free(text.bytes);
    }

    char path[16];
    CHECK(velmora_default_output("a/b.c.html", path, sizeof path) == 9);
    CHECK(strcmp(path, "a/b.c.txt") == 0);
    CHECK(velmora_default_output("a/b.c.html", path, 9) == 9 && path[0] == '\0');
    const char* made[] = {"api_in.html", "api_zoak.html", "api_empty.html", "api_in.txt",
                          "api_named.txt"};
    for (size_t i = 0; i < sizeof made / sizeof made[0]; ++i) {
        remove(made[i]);
    }
}

/* A reader over text in memory, in small reads as a pipe gives, that can fail half way. */
typedef struct Stream {
    Text out;
    const Text* from;
    size_t at;
    long long fail; /* a negative errno value to fail with once half is read, or 0 */
} Stream;

static long long Read(void* user, char* buffer, size_t size) {
    Stream* stream = user;
    if (stream->fail != 0 && stream->at >= stream->from->size / 2) {
        return stream->fail;
    }
    size_t count = stream->from->size - stream->at;
    count = count < size ? count : size;
    count = count < 1000 ? count : 1000;
    memcpy(buffer, stream->from->bytes + stream->at, count);
    stream->at += count;
    return (long long)count;
}

typedef struct Progress {
    Text out;
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

static void PiecesReadersAndProgress(const Text* large, const Text* expected) {
    velmora_failure failure;
    Text out = {0};
    CHECK(velmora_convert_memory(large->bytes, large->size, Take, NULL, &out, &failure) ==
          VELMORA_CONVERTED);
    CHECK(Same(&out, expected->bytes, expected->size) && out.pieces > 1);
    Stream stream = {{0}, large, 0, 0};
    CHECK(velmora_convert_stream(Read, Take, NULL, &stream, &failure) == VELMORA_CONVERTED);
    CHECK(Same(&stream.out, expected->bytes, expected->size));
    Stream failing = {{0}, large, 0, -EIO};
    CHECK(velmora_convert_stream(Read, Take, NULL, &failing, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_READ && failure.error == EIO && failing.out.size == 0);
    Text stopping = {NULL, 0, 0, 1};
    CHECK(velmora_convert_memory(large->bytes, large->size, Take, NULL, &stopping, &failure) ==
          VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_STOPPED && stopping.pieces == 1);
    free(out.bytes);
    free(stream.out.bytes);
    free(failing.out.bytes);
    free(stopping.bytes);

    CHECK(velmora_convert_memory(kTitle, 3, NULL, NULL, NULL, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_USAGE);
    CHECK(velmora_convert_stream(NULL, Take, NULL, NULL, &failure) == VELMORA_FAILED);
    CHECK(failure.code == VELMORA_FAILURE_USAGE);

    /* The values the window shows for the same document. */
    Progress progress = {{0}, {0}, 0, 0};
    static const float window[] = {4, 13, 12, 23, 28};
    CHECK(velmora_convert_memory(kTitle, sizeof kTitle - 1, Take, Record, &progress, &failure) ==
          VELMORA_CONVERTED);
    CHECK(progress.count == 5 && progress.max == 28);
    CHECK(memcmp(progress.values, window, sizeof window) == 0);
    free(progress.out.bytes);
}

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
        Text out = {0};
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
    Text out;
    const Text* input;
    velmora_outcome outcome;
} Job;

static void* Convert(void* user) {
    Job* job = user;
    job->outcome =
        velmora_convert_memory(job->input->bytes, job->input->size, Take, NULL, job, NULL);
    return NULL;
}

static void TwoThreads(const Text* large, const Text* expected) {
    Job jobs[2] = {{{0}, large, VELMORA_FAILED}, {{0}, large, VELMORA_FAILED}};
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        CHECK(pthread_create(&threads[i], NULL, Convert, &jobs[i]) == 0);
    }
    for (int i = 0; i < 2; ++i) {
        pthread_join(threads[i], NULL);
        CHECK(jobs[i].outcome == VELMORA_CONVERTED);
        CHECK(Same(&jobs[i].out, expected->bytes, expected->size));
        free(jobs[i].out.bytes);
    }
}

int main(void) {
    CHECK(strcmp(velmora_version(), VELMORA_VERSION) == 0);
    OutcomesOfMemory();
    FilesAndTheirFailures();

    /* Larger than a piece: many terms with their definitions, about 1 MiB. The file
     * conversion's text is the reference. */
    Text large = {0};
    char row[64];
    Append(&large, "<dl>", 4);
    for (int i = 0; large.size < ((size_t)1 << 20); ++i) {
        const int length = snprintf(row, sizeof row, "<dt>Term %d</dt><dd>Value %d</dd>\n", i, i);
        Append(&large, row, (size_t)length);
    }
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
