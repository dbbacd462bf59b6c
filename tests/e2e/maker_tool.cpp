// A program of the maker's for the running-software test: it runs until it is ended.
#include <windows.h>

int main()
{
    for (;;)
        Sleep(1000);
}
