/* A host program of the imposition interface: makes a booklet of argv[1] in argv[2] in
 * signatures of two sheets with 10 mm margins, reading the booklet back from memory, and
 * prints what the result reports. */
#include <stdio.h>

#include <quirefold_impose.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
        return 2;
    }
    quirefold_impose_options options;
    quirefold_impose_options_init(&options);
    options.signature = 2;
    quirefold_impose_parse_length("10mm", &options.margin);

    quirefold_impose_input input = {argv[1], NULL, 0, NULL};
    quirefold_impose_result result;
    quirefold_impose_result_init(&result);
    if (quirefold_impose(&input, NULL, &options, &result) != QUIREFOLD_IMPOSE_OK) {
        fprintf(stderr, "error: %s\n", result.message);
        quirefold_impose_result_free(&result);
        return 1;
    }
    FILE* f = fopen(argv[2], "wb");
    int ok = f && fwrite(result.output, 1, result.output_size, f) == result.output_size;
    if (f && fclose(f) != 0) ok = 0;
    printf("%s: %d pages on %d sheets, %d signatures, %s (library %s)\n", argv[2], result.pages,
           result.sheets, result.signatures, result.sheet_name, quirefold_impose_version());
    quirefold_impose_result_free(&result);
    return ok ? 0 : 1;
}
