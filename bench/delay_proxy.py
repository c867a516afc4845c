#!/usr/bin/python3
"""A TCP proxy on loopback that holds every chunk for DELAY_MS in each direction, so a local
server looks like one a network round trip away. Order and half-closes are kept; each direction
of each connection has its own queue, so a slow reader never delays the other direction.

usage: delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS     (prints "ready" once listening)
Connections made through it are counted and printed on SIGTERM ("connections N")."""
import asyncio, signal, sys, time

listen_port, target_port, delay = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]) / 1000.0
connections = 0


async def pump(reader, writer):
    queue = asyncio.Queue()

    async def release():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    sender = asyncio.ensure_future(release())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((time.monotonic() + delay, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, asyncio.CancelledError):
        sender.cancel()


async def serve(client_reader, client_writer):
    global connections
    connections += 1
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pump(client_reader, server_writer), pump(server_reader, client_writer),
                         return_exceptions=True)
    for w in (client_writer, server_writer):
        w.close()


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", listen_port, backlog=1024)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    print("ready", flush=True)
    async with server:
        await stop.wait()
    print(f"connections {connections}", flush=True)


asyncio.run(main())
