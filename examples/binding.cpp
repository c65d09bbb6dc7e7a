// The same product through the C++ binding, vorn/vorn.hpp.
#include <cstdio>
#include <vorn/vorn.hpp>

int main() {
    vorn::putreg("123456789012345678901234567890", 1);
    vorn::putreg("98765432109876543210", 2);
    if (vorn::dec2huge(1, 1) || vorn::dec2huge(2, 2) || vorn::mul(1, 2, 3) || vorn::huge2dec(3, 3)) return 1;
    std::printf("product %s\n", vorn::getreg(3).c_str());
    return 0;
}
