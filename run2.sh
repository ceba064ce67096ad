export HOME=/tmp/exp/h XDG_CONFIG_HOME=/tmp/exp/h/.config XDG_CACHE_HOME=/tmp/exp/h/.cache XDG_RUNTIME_DIR=/tmp/exp/h/run DISPLAY=:77 QT_QPA_PLATFORM=xcb SHEAFLINE_REPORT_SHOWN=1
exec "$@"
