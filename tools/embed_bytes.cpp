// Build tool: writes a file's bytes as a C++ array, so the Linux build carries the same
// compiled resources that the Windows build links.
//   embed_bytes INPUT SYMBOL OUTPUT.cpp
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: embed_bytes INPUT SYMBOL OUTPUT\n");
        return 2;
    }
    std::FILE *in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> bytes;
    for (int c; (c = std::fgetc(in)) != EOF;)
        bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(in);

    std::FILE *out = std::fopen(argv[3], "w");
    if (!out) {
        std::perror(argv[3]);
        return 1;
    }
    std::fprintf(out, "#include <cstddef>\nextern const unsigned char %s[];\n", argv[2]);
    std::fprintf(out, "extern const size_t %sSize;\n", argv[2]);
    std::fprintf(out, "alignas(4) const unsigned char %s[] = {", argv[2]);
    for (size_t i = 0; i < bytes.size(); ++i)
        std::fprintf(out, "%s%u,", i % 24 ? "" : "\n", bytes[i]);
    std::fprintf(out, "\n};\nconst size_t %sSize = %zu;\n", argv[2], bytes.size());
    return std::fclose(out) == 0 ? 0 : 1;
}
