#!/usr/bin/env python3
"""Makes the explain-*.dump fixtures by patching the real-device dumps beside this script:
BAR registers, bridge bus numbers and memory windows are set to what firmware programs on
such machines, functions are dropped, and the switch fixture gains its switch ports as copies
of the root port with the IDs and port type of a Navi 10 card's own switch. The aperture-*
fixtures add the firmware's facts ("@" lines) of a root bridge and its memory-space map. Run it from
anywhere; it rewrites the fixtures in place (their expected outputs are kept by hand).

  make-explain-fixtures.py [--check]   with --check, only compare and exit 1 on a difference
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LINE_BYTES = 16
# Standard capability list: pointer at 0x34; entries are (ID, next). PCI Express is ID 0x10,
# with its port type in bits 7..4 of the byte at +2.
CAPABILITY_POINTER = 0x34
EXPRESS_ID = 0x10
PORT_UPSTREAM = 0x5
PORT_DOWNSTREAM = 0x6


def read_dump(name):
    """[(address, description, bytearray)] of a dump file, in file order."""
    functions = []
    with open(os.path.join(HERE, name), encoding="ascii") as file:
        for line in file:
            line = line.rstrip("\n")
            if not line:
                continue
            offset, _, rest = line.partition(": ")
            if all(c in "0123456789abcdef" for c in offset) and len(rest.split()) == LINE_BYTES:
                functions[-1][2].extend(int(byte, 16) for byte in rest.split())
            else:
                address, _, description = line.partition(" ")
                functions.append([address, description, bytearray()])
    return functions


def write_dump(functions, facts=()):
    """The dump text: the firmware's facts lines first, then each function."""
    lines = list(facts)
    for address, description, data in functions:
        lines.append("%s %s" % (address, description))
        for offset in range(0, len(data), LINE_BYTES):
            lines.append("%02x: %s" % (offset, " ".join("%02x" % b for b in data[offset:offset + 16])))
        lines.append("")
    return "\n".join(lines)


def put(data, offset, value, width):
    data[offset:offset + width] = value.to_bytes(width, "little")


def set_bars(data, bars):
    """bars: list of (index, kind, address) with kind '64p', '64', '32p', '32', 'io'; the
    other BAR registers become 0."""
    for offset in range(0x10, 0x28, 4):
        put(data, offset, 0, 4)
    for index, kind, address in bars:
        offset = 0x10 + 4 * index
        low = {"64p": 0xC, "64": 0x4, "32p": 0x8, "32": 0x0, "io": 0x1}[kind]
        put(data, offset, (address & 0xFFFFFFF0) | low, 4)
        if kind.startswith("64"):
            put(data, offset + 4, address >> 32, 4)


def set_bridge(data, primary, secondary, subordinate, memory, prefetchable):
    """memory: (base, limit); prefetchable: (base, limit, 64-bit) or None for disabled."""
    data[0x18:0x1B] = bytes([primary, secondary, subordinate])
    put(data, 0x20, (memory[0] >> 16) & 0xFFF0, 2)
    put(data, 0x22, (memory[1] >> 16) & 0xFFF0, 2)
    if prefetchable is None:
        put(data, 0x24, 0xFFF1, 2)
        put(data, 0x26, 0x0001, 2)
        put(data, 0x28, 0, 4)
        put(data, 0x2C, 0, 4)
        return
    base, limit, wide = prefetchable
    put(data, 0x24, ((base >> 16) & 0xFFF0) | wide, 2)
    put(data, 0x26, ((limit >> 16) & 0xFFF0) | wide, 2)
    put(data, 0x28, base >> 32 if wide else 0, 4)
    put(data, 0x2C, limit >> 32 if wide else 0, 4)


def set_port_type(data, port_type):
    pointer = data[CAPABILITY_POINTER]
    while pointer:
        if data[pointer] == EXPRESS_ID:
            data[pointer + 2] = (data[pointer + 2] & 0x0F) | (port_type << 4)
            return
        pointer = data[pointer + 1]
    raise SystemExit("no PCI Express capability")


def copy_function(source, address, ids, description):
    vendor, device = ids
    data = bytearray(source[2])
    put(data, 0x00, vendor, 2)
    put(data, 0x02, device, 2)
    return [address, description, data]


def pick(functions, address):
    return next(function for function in functions if function[0] == address)


def root_port():
    """A GeForce RTX 4090 behind a root port whose 64-bit window already spans 32 GB."""
    functions = read_dump("workstation.dump")
    set_bridge(pick(functions, "00:01.0")[2], 0, 1, 1, (0xF6000000, 0xF70FFFFF),
               (0x4000000000, 0x47FFFFFFFF, 1))
    set_bridge(pick(functions, "00:1d.0")[2], 0, 2, 2, (0xF7200000, 0xF72FFFFF), None)
    set_bars(pick(functions, "01:00.0")[2], [(0, "32", 0xF6000000), (1, "64p", 0x4000000000),
                                             (3, "64p", 0x4010000000), (5, "io", 0xE000)])
    set_bars(pick(functions, "01:00.1")[2], [(0, "32", 0xF7080000)])
    set_bars(pick(functions, "02:00.0")[2], [(0, "64", 0xF7200000)])
    return functions


def window_32bit():
    """The same card behind a root port whose prefetchable window decodes 32 bits only."""
    functions = read_dump("workstation.dump")
    set_bridge(pick(functions, "00:01.0")[2], 0, 1, 1, (0xF6000000, 0xF70FFFFF),
               (0xE0000000, 0xF1FFFFFF, 0))
    set_bridge(pick(functions, "00:1d.0")[2], 0, 2, 2, (0xF7200000, 0xF72FFFFF), None)
    set_bars(pick(functions, "01:00.0")[2], [(0, "32", 0xF6000000), (1, "64p", 0xE0000000),
                                             (3, "64p", 0xF0000000), (5, "io", 0xE000)])
    set_bars(pick(functions, "01:00.1")[2], [(0, "32", 0xF7080000)])
    set_bars(pick(functions, "02:00.0")[2], [(0, "64", 0xF7200000)])
    return functions


def disabled_window():
    """A Navi 10 card below a root port whose prefetchable window is off: firmware placed its
    BARs low, in the memory window."""
    functions = [function for function in read_dump("override-navi10.dump")
                 if function[0] != "0b:00.0"]
    set_bridge(pick(functions, "00:01.1")[2], 0, 0x0A, 0x0A, (0xC0000000, 0xFCEFFFFF), None)
    set_bars(pick(functions, "0a:00.0")[2], [(0, "64p", 0xC0000000), (2, "64p", 0xD0000000),
                                             (4, "io", 0xE000), (5, "32", 0xFCE00000)])
    set_bars(pick(functions, "0a:00.1")[2], [(0, "32", 0xFCE80000)])
    return functions


def switch():
    """Two Navi 10 cards behind one switch (upstream 1002:1478, downstream ports 1002:1479)
    below a root port, all windows above 4 GB."""
    source = read_dump("override-navi10.dump")
    port = pick(source, "00:01.1")
    root = copy_function(port, "00:01.1", (0x1022, 0x1483), port[1])
    upstream = copy_function(port, "01:00.0", (0x1002, 0x1478),
                             "PCI bridge: Advanced Micro Devices, Inc. [AMD/ATI] Navi 10 XL "
                             "Upstream Port of PCI Express Switch (rev c1)")
    first = copy_function(port, "02:00.0", (0x1002, 0x1479),
                          "PCI bridge: Advanced Micro Devices, Inc. [AMD/ATI] Navi 10 XL "
                          "Downstream Port of PCI Express Switch")
    second = copy_function(port, "02:01.0", (0x1002, 0x1479), first[1])
    set_port_type(upstream[2], PORT_UPSTREAM)
    set_port_type(first[2], PORT_DOWNSTREAM)
    set_port_type(second[2], PORT_DOWNSTREAM)
    set_bridge(root[2], 0, 1, 4, (0xFCD00000, 0xFCEFFFFF), (0x7800000000, 0x78BFFFFFFF, 1))
    set_bridge(upstream[2], 1, 2, 4, (0xFCD00000, 0xFCEFFFFF), (0x7800000000, 0x78BFFFFFFF, 1))
    set_bridge(first[2], 2, 3, 3, (0xFCE00000, 0xFCEFFFFF), (0x78A0000000, 0x78BFFFFFFF, 1))
    set_bridge(second[2], 2, 4, 4, (0xFCD00000, 0xFCDFFFFF), (0x7800000000, 0x78801FFFFF, 1))
    gpu = pick(source, "0a:00.0")
    gpu[0] = "03:00.0"
    set_bars(gpu[2], [(0, "64p", 0x78A0000000), (2, "64p", 0x78B0000000), (4, "io", 0xF000),
                      (5, "32", 0xFCE00000)])
    audio = pick(source, "0a:00.1")
    audio[0] = "03:00.1"
    set_bars(audio[2], [(0, "32", 0xFCE80000)])
    other = pick(source, "0b:00.0")
    other[0] = "04:00.0"
    set_bars(other[2], [(0, "64p", 0x7800000000), (2, "64p", 0x7880000000), (4, "io", 0xE000),
                        (5, "32", 0xFCD00000)])
    return [root, upstream, first, second, gpu, audio, other]


def root_bus():
    """Intel data center GPU functions on a root bus of their own; one BAR made 32-bit."""
    functions = read_dump("multi-function-rebar.dump")
    set_bars(pick(functions, "03:00.0")[2], [(0, "64", 0xB0000000), (2, "64p", 0x38BFC0000000)])
    set_bars(pick(functions, "03:00.1")[2], [(0, "32", 0xC0000000), (2, "64p", 0x38BFE0000000)])
    set_bars(pick(functions, "03:00.3")[2], [(0, "64", 0xB1000000), (4, "64p", 0x38BFF0000000)])
    return functions


def lone_card(bar_address):
    """The RTX 4090 of the root-port fixture alone on its root bus: the root port is dropped,
    so the host bridge's aperture decides; BAR 1 (256 MB, proposed 32 GB) at bar_address."""
    functions = [f for f in read_dump("workstation.dump") if f[0] in ("01:00.0", "01:00.1")]
    set_bars(pick(functions, "01:00.0")[2], [(0, "32", 0xF6000000), (1, "64p", bar_address),
                                             (3, "64p", bar_address + 0x10000000),
                                             (5, "io", 0xE000)])
    set_bars(pick(functions, "01:00.1")[2], [(0, "32", 0xF7080000)])
    return functions


def facts(allocated, mmio):
    """Firmware facts lines: one root bridge of buses 00-ff with its allocated ranges
    (base, limit, kind), then a memory-space map of (base, limit, state) entries."""
    lines = ["@root-bridge 0000 00-ff"]
    lines += ["@allocated %016x-%016x %s" % entry for entry in allocated]
    lines.append("@memory-space-map")
    lines += ["@mmio %016x-%016x %s" % entry for entry in mmio]
    return lines


BELOW_4G_ALLOCATED = (0xF6000000, 0xF70FFFFF, "mem32")
BELOW_4G_MMIO = [(0xF6000000, 0xF70FFFFF, "allocated"), (0xF7100000, 0xFBFFFFFF, "free")]


def aperture_room():
    """A 64-bit aperture of 64 GB holding the card's 288 MB: room for 32 GB."""
    return lone_card(0x4000000000), facts(
        [BELOW_4G_ALLOCATED, (0x4000000000, 0x4011FFFFFF, "mem64 prefetchable")],
        BELOW_4G_MMIO + [(0x4000000000, 0x4011FFFFFF, "allocated"),
                         (0x4012000000, 0x4FFFFFFFFF, "free")])


def aperture_no_room():
    """A 64-bit aperture of 16 GB: too small for 32 GB, however it is used."""
    return lone_card(0x4000000000), facts(
        [BELOW_4G_ALLOCATED, (0x4000000000, 0x4011FFFFFF, "mem64 prefetchable")],
        BELOW_4G_MMIO + [(0x4000000000, 0x4011FFFFFF, "allocated"),
                         (0x4012000000, 0x43FFFFFFFF, "free")])


def aperture_below_4g():
    """Everything placed below 4 GB and no memory-mapped I/O above it: Above 4G decoding off."""
    return lone_card(0xE0000000), facts(
        [BELOW_4G_ALLOCATED, (0xE0000000, 0xF1FFFFFF, "mem32 prefetchable")],
        [(0xE0000000, 0xF1FFFFFF, "allocated")] + BELOW_4G_MMIO)


def rebar_capability(data):
    """Offset of the Resizable BAR extended capability (ID 0x15), walked from 0x100."""
    offset = 0x100
    while offset:
        header = int.from_bytes(data[offset:offset + 4], "little")
        if header & 0xFFFF == 0x15:
            return offset
        offset = header >> 20
    raise ValueError("no Resizable BAR capability")


def rebar_terabyte():
    """The lone card whose BAR 1 entry also advertises 1 TB to 128 TB (capability bits 31..24),
    sizes the driver's report leaves out."""
    functions = lone_card(0x4000000000)
    data = pick(functions, "01:00.0")[2]
    entry = rebar_capability(data) + 4
    put(data, entry, int.from_bytes(data[entry:entry + 4], "little") | 0xFF000000, 4)
    return functions


FIXTURES = {
    "explain-root-port": root_port,
    "explain-switch": switch,
    "explain-32bit-window": window_32bit,
    "explain-disabled-window": disabled_window,
    "explain-root-bus": root_bus,
    "aperture-room": aperture_room,
    "aperture-no-room": aperture_no_room,
    "aperture-below-4g": aperture_below_4g,
    "rebar-terabyte": rebar_terabyte,
}


def main():
    check = sys.argv[1:] == ["--check"]
    differ = []
    for name, make in FIXTURES.items():
        path = os.path.join(HERE, name + ".dump")
        made = make()
        text = write_dump(*made) if isinstance(made, tuple) else write_dump(made)
        if check:
            with open(path, encoding="ascii") as file:
                if file.read() != text:
                    differ.append(name)
            continue
        with open(path, "w", encoding="ascii") as file:
            file.write(text)
    if differ:
        print("differ from their recipe: " + ", ".join(differ))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
