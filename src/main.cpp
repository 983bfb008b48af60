#include "startup/Quenta.h"

int main() {
    morvia::Quenta::init({});
    return 0;
}
