#!/usr/bin/env python3
"""Writes hostile zip archives for the CLI tests, byte by byte.

  hostile_zip.py quoted N OUT        N members, each member's deflate data quoting the next
                                     member's local header in a stored block and going on into
                                     its data, all sharing one kernel (output grows with N*N)
  hostile_zip.py understated N OUT   the same chain, each compressed size written as the quote
                                     block's 5 bytes, so that no two recorded spans overlap and
                                     only reading on past a member's size reaches the kernel
  hostile_zip.py shared N OUT        one deflated member, named by N central entries
  hostile_zip.py pushed OUT          a member whose local extra field pushes its data over the
                                     next member's header, beside an ordinary member
  hostile_zip.py sharedempty OUT     one empty member named by three central entries (as some
                                     Java tools write), beside an ordinary one
  hostile_zip.py unicode OUT         members whose Unicode Path holds a zero byte or leads outside
  hostile_zip.py names OUT           members named "", "/" (with data), "dir/" + NUL + "x" (with
                                     data), beside an ordinary one
"""
import struct
import sys
import zlib

KERNEL_SIZE = 1 << 20  # each member of a bomb would write at least this much


def local_header(name, crc, packed, unpacked, method=8, extra=b""):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x5A8C, crc, packed,
                       unpacked, len(name), len(extra)) + name + extra


def central_header(name, crc, packed, unpacked, offset, method=8, extra=b"", attributes=0x20):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x5A8C, crc,
                       packed, unpacked, len(name), len(extra), 0, 0, 0, attributes,
                       offset) + name + extra


def end_record(count, size, offset):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, 0)


def finish(body, centrals):
    directory = b"".join(centrals)
    return body + directory + end_record(len(centrals), len(directory), len(body))


def kernel():
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(b"a" * KERNEL_SIZE) + c.flush()


def chain(n, understate):
    """Members 0..n-1; member i's data is a stored block quoting header i+1, then member i+1's."""
    names = [b"%04d" % i for i in range(n)]
    packed_kernel = kernel()
    plain_kernel = b"a" * KERNEL_SIZE
    # Built from the last member back: each header holds the CRC of everything its data gives.
    headers = [b""] * n
    datas = [b""] * n
    plains = [b""] * n
    crcs = [0] * n
    for i in reversed(range(n)):
        if i == n - 1:
            datas[i] = packed_kernel
            plains[i] = plain_kernel
        else:
            quoted = headers[i + 1]
            block = b"\x00" + struct.pack("<HH", len(quoted), 0xFFFF ^ len(quoted))
            datas[i] = block + quoted + datas[i + 1]
            plains[i] = quoted + plains[i + 1]
        crcs[i] = zlib.crc32(plains[i])
        packed = len(datas[i])
        if understate and i != n - 1:
            packed = 5
        headers[i] = local_header(names[i], crcs[i], packed, len(plains[i]))
    # In the file: header 0, quote block 0, header 1, quote block 1, ..., header n-1, kernel.
    body = b""
    centrals = []
    for i in range(n):
        offset = len(body)
        packed = 5 if (understate and i != n - 1) else len(datas[i])
        centrals.append(central_header(names[i], crcs[i], packed, len(plains[i]), offset))
        body += headers[i]
        body += datas[i][:5] if i != n - 1 else datas[i]
    return finish(body, centrals)


def shared(n):
    data = kernel()
    crc = zlib.crc32(b"a" * KERNEL_SIZE)
    body = local_header(b"k", crc, len(data), KERNEL_SIZE) + data
    centrals = [central_header(b"k%04d" % i, crc, len(data), KERNEL_SIZE, 0) for i in range(n)]
    return finish(body, centrals)


def stored_member(name, data, offset, extra=b""):
    crc = zlib.crc32(data)
    return (local_header(name, crc, len(data), len(data), 0, extra) + data,
            central_header(name, crc, len(data), len(data), offset, 0))


def pushed():
    # "b.txt" lies 40 bytes behind "a.txt"'s header; a.txt's local extra field is 200 bytes long,
    # so its data starts past b.txt's header. The recorded spans do not overlap.
    b_local, b_central = stored_member(b"b.txt", b"B" * 20, 40)
    a_data = b"A" * 5
    crc = zlib.crc32(a_data)
    # a's header (35 bytes) and 5 bytes of its extra field, then b's member inside the extra field
    # area: the file holds a's header and extra (with b inside), then a's data.
    extra = bytearray(200)
    extra[5:5 + len(b_local)] = b_local
    a_local = local_header(b"a.txt", crc, 5, 5, 0, bytes(extra))
    body = a_local + a_data
    c_local, c_central = stored_member(b"c.txt", b"C" * 7, len(body))
    body += c_local
    a_central = central_header(b"a.txt", crc, 5, 5, 0, 0)
    return finish(body, [a_central, b_central, c_central])


def shared_empty():
    empty_local = local_header(b"empty", 0, 0, 0, 0)
    body = empty_local
    centrals = [central_header(name, 0, 0, 0, 0, 0) for name in (b"empty", b"empty", b"other")]
    f_local, f_central = stored_member(b"full.txt", b"FULL", len(body))
    body += f_local
    return finish(body, centrals + [f_central])


def unicode_path(stored, utf8):
    field = struct.pack("<BI", 1, zlib.crc32(stored)) + utf8
    return struct.pack("<HH", 0x7075, len(field)) + field


def unicode():
    body = b""
    centrals = []
    for stored, utf8, data in ((b"innocent.txt", b"a/\x00/../../x", b"first"),
                               (b"safe.txt", b"safe\x00/../x", b"second"),
                               (b"up.txt", b"../../up.txt", b"third")):
        extra = unicode_path(stored, utf8)
        crc = zlib.crc32(data)
        offset = len(body)
        body += local_header(stored, crc, len(data), len(data), 0, extra) + data
        centrals.append(central_header(stored, crc, len(data), len(data), offset, 0, extra))
    return finish(body, centrals)


def names():
    body = b""
    centrals = []
    for name, data in ((b"", b"no name"), (b"/", b"slash"), (b"dir/\x00x", b"nul"),
                       (b"ok.txt", b"fine")):
        local, central = stored_member(name, data, len(body))
        body += local
        centrals.append(central)
    return finish(body, centrals)


def main():
    mode = sys.argv[1]
    if mode in ("quoted", "understated", "shared"):
        n = int(sys.argv[2])
        out = sys.argv[3]
        data = shared(n) if mode == "shared" else chain(n, mode == "understated")
    else:
        out = sys.argv[2]
        data = {"pushed": pushed, "sharedempty": shared_empty, "unicode": unicode,
                "names": names}[mode]()
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
