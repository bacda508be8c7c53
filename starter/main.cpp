#include "starter/modkzhp.h"

// Arguments are ignored: the program always opens the maker's web page.
int main()
{
    return modKZHP::Main();
}
