// A program that imports functions Windows XP lacks, declared here because the
// tree's XP headers leave them out: check_imports.sh must refuse it.
#include <winsock2.h>
#include <windows.h>

extern "C" {
__declspec(dllimport) void WINAPI InitializeSRWLock(void** lock);
__declspec(dllimport) ULONGLONG WINAPI GetTickCount64();
__declspec(dllimport) int WSAAPI inet_pton(int family, const char* text, void* address);
}

int main(int argc, char**) {
  if (argc > 5) {  // never true: the imports are what counts
    void* lock = nullptr;
    InitializeSRWLock(&lock);
    unsigned char address[16];
    return static_cast<int>(GetTickCount64()) + inet_pton(AF_INET, "127.0.0.1", address);
  }
  return 0;
}
