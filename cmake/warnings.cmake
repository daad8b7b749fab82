# The warnings of the launcher's code and of its tests.
set(VORLAN_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wformat=2 -Werror=format-security)
