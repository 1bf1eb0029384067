// A child program for the process tests, driven by its arguments in order:
//   out N   writes N bytes ('o') to standard output      err N   writes N bytes ('e') to standard error
//   echo    copies standard input to standard output     exit N  ends with code N (unsigned) at once
//   sleep N waits N milliseconds
// Raw handles only: no C runtime text mode between the bytes and the pipe.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void write_bytes(HANDLE h, char byte, long n)
{
    std::vector<char> chunk(65536, byte);
    while (n > 0) {
        DWORD want = DWORD(n < long(chunk.size()) ? n : long(chunk.size())), put = 0;
        if (!WriteFile(h, chunk.data(), want, &put, nullptr)) ExitProcess(90);
        n -= long(put);
    }
}

void echo()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<char> buffer(65536);
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(in, buffer.data(), DWORD(buffer.size()), &got, nullptr) || got == 0) return;
        if (!WriteFile(out, buffer.data(), got, &put, nullptr)) ExitProcess(91);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; i++) {
        std::wstring op = argv[i];
        long n = i + 1 < argc ? std::wcstol(argv[i + 1], nullptr, 10) : 0;
        if (op == L"out") write_bytes(GetStdHandle(STD_OUTPUT_HANDLE), 'o', n), i++;
        else if (op == L"err") write_bytes(GetStdHandle(STD_ERROR_HANDLE), 'e', n), i++;
        else if (op == L"echo") echo();
        else if (op == L"exit") ExitProcess(UINT(i + 1 < argc ? std::wcstoul(argv[i + 1], nullptr, 10) : 0));
        else if (op == L"sleep") Sleep(DWORD(n)), i++;
    }
    return 0;
}
