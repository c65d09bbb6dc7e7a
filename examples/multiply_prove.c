/* Multiplies two numbers and proves a prime with the VORN library (vorn.h). */
#include <stdio.h>
#include <string.h>
#include <vorn.h>

static int load(int32_t reg, const char *decimal) { /* decimal text -> number in reg */
    VN_STRING text = {(char *)decimal, (int32_t)strlen(decimal)};
    return VN_PUTREG(&text, &reg) == VN_OK && VN_DEC2HUGE(&reg, &reg) == VN_OK;
}

int main(void) {
    int32_t a = 1, b = 2, product = 3, p = 4;
    if (!load(a, "123456789012345678901234567890") || !load(b, "98765432109876543210") ||
        !load(p, "170141183460469231731687303715884105727") /* 2^127 - 1 */ ||
        VN_MUL(&a, &b, &product) != VN_OK || VN_HUGE2DEC(&product, &product) != VN_OK)
        return 1;
    VN_STRING digits = VN_GETREG(&product);
    printf("product %s\nprime %d\n", digits.data, (int)VN_ISPRIME_SLOW(&p));
    VN_FREESTRING(&digits);
    return 0;
}
