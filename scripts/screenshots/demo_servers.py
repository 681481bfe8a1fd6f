#!/usr/bin/env python3
"""The demonstration workspace's local servers: a subscription with a traffic quota, the latency-test
endpoint, payloads that produce traffic through the kernel, and release feeds (under /feed) whose downloads
trickle, so that a download can be pictured half-way. Usage: demo_servers.py PORT PROFILE_FILE"""
import http.server
import io
import json
import os
import sys
import time
import zipfile


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/sub":
            with open(sys.argv[2], "rb") as f:
                body = f.read()
            expire = int(time.time()) + 23 * 86400
            info = f"upload={3 << 30}; download={41 << 30}; total={100 << 30}; expire={expire}"
            self.reply(200, body, [("subscription-userinfo", info),
                                   ("content-type", "text/yaml; charset=utf-8")])
        elif path == "/generate_204":
            self.reply(204)
        elif path.startswith("/stream"):
            # About 40 KB/s for a while: a steady rate in the tray and the requests page.
            self.send_response(200)
            self.send_header("Content-Length", str(64 * 16384))
            self.end_headers()
            chunk = os.urandom(16384)
            try:
                for _ in range(64):
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    time.sleep(0.4)
            except OSError:
                pass
        elif path.startswith("/feed/repos/"):
            if "/tarnwick/" in path:
                time.sleep(3)  # the update window's "checking" long enough to be pictured
            self.reply(200, json.dumps(self.releases(path)).encode(), [("content-type", "application/json")])
        elif path.startswith("/feed/download/"):
            # A kernel: 8 MB at about 160 KB/s, still under way when the picture is taken. The
            # application: its package in about 6 s, then seconds of unpacking, so that the update window
            # is pictured installing, and no bundle inside, so that the update fails.
            if "/Tarnwick-" in path:
                body, pieces, pause = PACKAGE, 128, 0.05
            else:
                body, pieces, pause = os.urandom(16384) * 512, 512, 0.1
            size = -(-len(body) // pieces)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            try:
                for offset in range(0, len(body), size):
                    self.wfile.write(body[offset:offset + size])
                    self.wfile.flush()
                    time.sleep(pause)
            except OSError:
                pass
        elif path.startswith("/blob"):
            self.reply(200, os.urandom(512 * 1024))
        else:
            self.reply(404, b"not found")


    def releases(self, path):
        base = f"http://127.0.0.1:{sys.argv[1]}/feed/download"
        if "/tarnwick/" in path:
            notes = [("9.9.0", "2026-11-28T10:00:00Z", "- The settings page has every section.\n- Faster start."),
                     ("0.2.0", "2026-10-02T10:00:00Z", "- Traffic history with retention.\n- Wi-Fi bypass."),
                     ("0.1.0", "2026-09-01T10:00:00Z", "- First release.")]
            return [{"tag_name": f"v{version}", "name": f"Tarnwick {version}", "prerelease": False,
                     "published_at": date, "body": body, "html_url": f"{base}/notes/{version}",
                     "assets": [{"name": f"Tarnwick-{version}-linux-amd64.zip", "size": len(PACKAGE),
                                 "browser_download_url": f"{base}/Tarnwick-{version}.zip"}]}
                    for version, date, body in notes]
        return [{"tag_name": "v1.19.99", "name": "v1.19.99", "prerelease": False,
                 "assets": [{"name": "mihomo-linux-amd64-compatible-v1.19.99.gz", "size": 512 * 16384,
                             "browser_download_url": f"{base}/mihomo-v1.19.99.gz"}]}]


def package():
    """The application's update: twenty thousand empty notes, which take seconds to unpack, and no bundle."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_STORED) as archive:
        for i in range(20000):
            archive.writestr(f"Tarnwick-9.9.0/share/doc/notes/{i:05}.txt", b"")
    return data.getvalue()


PACKAGE = package()
http.server.ThreadingHTTPServer.daemon_threads = True
http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
