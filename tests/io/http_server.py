#!/usr/bin/env python3
"""The loopback HTTP server of the request tests and benchmark (never reachable from outside).

Usage: http_server.py PORT_FILE
Listens on a free port of 127.0.0.1, writes the port number to PORT_FILE and serves until killed,
until the process that started it is gone, or until no request came for a minute.

  /echo...    200; headers X-Method (the request's method) and X-Body (the request body in
              upper-case hex, "none" when empty); the body lists the request's headers, one
              "name: value" line each, CR LF after each
  /dup        200; headers X-Dup: 1 and X-Dup: 2; body "dup"
  /lines      200; body "a" CR LF "b" CR LF
  /bytes/N    200; N bytes of a fixed pattern
  /chunked    200; body "abcdef" in two chunks and the last (empty) chunk
  answers cut off, the connection then closed:
  /cut/N      200; Content-Length N + 10, then only N bytes of a fixed pattern
  /cut-chunks 200; body "abc" as one chunk, no last chunk
  /cut-chunk  200; a chunk of 10 bytes announced, 3 sent
  /count/KIND/NAME  counts its requests by NAME; KIND ok: 200, body "[a 1] 2"; missing: 404, body
              "gone"; typed: 200, Content-Type text/x-test, body "typed"; script: 200, a script
              whose value is 3
  /hits/NAME  200; body the number of requests /count/.../NAME had
  otherwise   404; body "not found"
"""
import collections
import http.server
import os
import sys
import time

hits = collections.Counter()


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        if self.command != 'HEAD':
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get('Content-Length') or 0)
        sent = self.rfile.read(length) if length else b''
        if self.path.startswith('/echo'):
            lines = ''.join(f'{name}: {value}\r\n' for name, value in self.headers.items())
            self.answer(200, lines.encode(), [('X-Method', self.command), ('X-Body', sent.hex().upper() or 'none')])
        elif self.path == '/dup':
            self.answer(200, b'dup', [('X-Dup', '1'), ('X-Dup', '2')])
        elif self.path == '/lines':
            self.answer(200, b'a\r\nb\r\n')
        elif self.path.startswith('/bytes/'):
            count = int(self.path[7:])
            self.send_response(200)
            self.send_header('Content-Length', str(count))
            self.end_headers()
            piece = bytes(range(256)) * 4096
            while count > 0:
                chunk = piece[:count]
                self.wfile.write(chunk)
                count -= len(chunk)
        elif self.path.startswith('/count/'):
            kind, name = self.path[7:].split('/', 1)
            hits[name] += 1
            if kind == 'missing':
                self.answer(404, b'gone')
            elif kind == 'typed':
                self.answer(200, b'typed', [('Content-Type', 'text/x-test')])
            elif kind == 'script':
                self.answer(200, b'; remote\nKiv [Title: "remote"] 1 + 2')
            else:
                self.answer(200, b'[a 1] 2')
        elif self.path.startswith('/hits/'):
            self.answer(200, str(hits[self.path[6:]]).encode())
        elif self.path == '/chunked' or self.path.startswith('/cut'):
            self.cut_answer()
        else:
            self.answer(404, b'not found')

    # Chunked answers need HTTP/1.1; every answer here ends with the connection closed.
    def cut_answer(self):
        self.protocol_version = 'HTTP/1.1'
        self.close_connection = True
        self.send_response(200)
        if self.path.startswith('/cut/'):
            count = int(self.path[5:])
            self.send_header('Content-Length', str(count + 10))
            self.send_header('Connection', 'close')
            self.end_headers()
            self.wfile.write(bytes(i % 256 for i in range(count)))
            return
        self.send_header('Transfer-Encoding', 'chunked')
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write({'/chunked': b'3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n',
                          '/cut-chunks': b'3\r\nabc\r\n',
                          '/cut-chunk': b'a\r\nabc'}.get(self.path, b''))

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = handle_any

    def log_message(self, *args):
        pass


class Server(http.server.HTTPServer):
    timeout = 1   # handle_request returns after a second without a request
    last = time.monotonic()

    def finish_request(self, request, address):
        super().finish_request(request, address)
        self.last = time.monotonic()


server = Server(('127.0.0.1', 0), Handler)
with open(sys.argv[1], 'w') as f:
    f.write(str(server.server_address[1]))
parent = os.getppid()
while os.getppid() == parent and time.monotonic() - server.last < 60:
    server.handle_request()
server.server_close()
