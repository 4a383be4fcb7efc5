#!/usr/bin/env bash
# check-exports.sh LIBRARY: the shared library exports its public API and
# nothing outside the namespace TAVARO.
set -u
library=$1
symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3-) || exit 1

# What the dynamic symbol table may hold: names in TAVARO, with the compiler's
# prefixes for class data; and the markers the linker adds to every library.
allowed='^((typeinfo|typeinfo name|vtable|VTT) for |(non-)?virtual thunk to )?TAVARO::'
linker='^(_init|_fini|_edata|_end|__bss_start)$'
stray=$(grep -Ev -e "$allowed" -e "$linker" <<<"$symbols")
if [ -n "$stray" ]; then
    echo "FAIL: $library exports symbols outside namespace TAVARO:" >&2
    echo "$stray" >&2
    exit 1
fi

# A sample of the public API, so that an empty list cannot pass.
for expected in 'TAVARO::VelkDocument::LoadFile(char const*)' \
                'TAVARO::VelkBase::condenseWhiteSpace' \
                'vtable for TAVARO::VelkElement' \
                'TAVARO::operator<<(std::ostream&, TAVARO::VelkNode const&)' \
                'TAVARO::VelkNode::Print(std::ostream&, int) const' \
                'TAVARO::VelkElement::SetAttribute(TAVARO::VelkStringRef, TAVARO::VelkStringRef)'; do
    if ! grep -qxF -- "$expected" <<<"$symbols"; then
        echo "FAIL: $library does not export $expected" >&2
        exit 1
    fi
done
echo "$(wc -l <<<"$symbols") exported symbols, all in namespace TAVARO"
