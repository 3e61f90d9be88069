#!/usr/bin/env bash
# Lets the built web server use port 80 (and other ports below 1024) without running as
# root, with the file capability cap_net_bind_service. Where that cannot be given, says how.
set -u
server=${1:?usage: allow-web-port.sh PATH/TO/asp}
command -v setcap >/dev/null 2>&1 || exit 0
if [ "$(id -u)" -eq 0 ]; then
  setcap cap_net_bind_service=+ep "$server" 2>/dev/null && exit 0
elif sudo -n true 2>/dev/null; then
  sudo setcap cap_net_bind_service=+ep "$server" 2>/dev/null && exit 0
fi
echo "提示：网页服务器还不能使用 80 端口。以管理员身份运行一次："
echo "  sudo setcap cap_net_bind_service=+ep $server"
echo "或在 sys.ini 的 [sys] 中把 WEB端口 改为 1024 以上的端口（例如 8080）。"
exit 0
