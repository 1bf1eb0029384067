#!/usr/bin/env python3
"""The loopback HTTP server of the request tests and benchmark (never reachable from outside).

Usage: http_server.py PORT_FILE
Listens on a free port of 127.0.0.1, writes the port number to PORT_FILE and serves until killed.

  /echo...    200; headers X-Method (the request's method) and X-Body (the request body in
              upper-case hex, "none" when empty); the body lists the request's headers, one
              "name: value" line each, CR LF after each
  /dup        200; headers X-Dup: 1 and X-Dup: 2; body "dup"
  /lines      200; body "a" CR LF "b" CR LF
  /bytes/N    200; N bytes of a fixed pattern
  otherwise   404; body "not found"
"""
import http.server
import sys


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
        else:
            self.answer(404, b'not found')

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = handle_any

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
with open(sys.argv[1], 'w') as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
