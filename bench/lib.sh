# Shared by the benchmark scripts: a free loopback port and a throw-away nginx.

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# write_nginx_conf DIR PORT ROOT CONNECTIONS [HTTP-LINES [SERVER-LINES]]: the configuration
# of a one-worker nginx in the foreground on 127.0.0.1:PORT, serving ROOT, with all of its
# files under DIR; start it with `nginx -c DIR/nginx.conf -p DIR`.
write_nginx_conf() {
  local dir=$1 port=$2 root=$3 connections=$4 http_lines=${5:-} server_lines=${6:-}
  mkdir -p "$dir"
  cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections $connections; }
http {
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  $http_lines
  server {
    listen 127.0.0.1:$port;
    root $root;
    $server_lines
  }
}
CONF
}
