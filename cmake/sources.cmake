# The sources of each library, listed once for the main build and the fuzz build. Paths are
# relative to the repository root (RQ735_ROOT).

# Pure functions, no Qt: frame encodings, parsers, checksums, number formats.
set(RQ735_PROTOCOL_SOURCES
  protocol/byte_loop.h
  protocol/config_frame.cpp protocol/config_frame.h
  protocol/crc16.cpp protocol/crc16.h
  protocol/frame_end.cpp protocol/frame_end.h
  protocol/hart.cpp protocol/hart.h
  protocol/hart_answer.cpp protocol/hart_answer.h
  protocol/hart_codes.cpp protocol/hart_codes.h
  protocol/hart_commands.cpp protocol/hart_commands.h
  protocol/hart_settings.cpp protocol/hart_settings.h
  protocol/hart_reply.cpp protocol/hart_reply.h
  protocol/hex.cpp protocol/hex.h
  protocol/ieee754_text.cpp protocol/ieee754_text.h
  protocol/int_text.cpp protocol/int_text.h
  protocol/key_filter.cpp protocol/key_filter.h
  protocol/line_decoder.cpp protocol/line_decoder.h
  protocol/modbus_codes.cpp protocol/modbus_codes.h
  protocol/modbus_reply.cpp protocol/modbus_reply.h
  protocol/modbus_rtu.cpp protocol/modbus_rtu.h
  protocol/module_frames.cpp protocol/module_frames.h
  protocol/module_layouts.cpp protocol/module_layouts.h
  protocol/number_format.cpp protocol/number_format.h
  protocol/packed_ascii.cpp protocol/packed_ascii.h
  protocol/system_reply.cpp protocol/system_reply.h
  protocol/telnet.cpp protocol/telnet.h)

# The far end of a pseudo-terminal, no Qt: the ports simulators publish, and the write loop.
set(RQ735_PTY_SOURCES
  pty/pty_write.cpp pty/pty_write.h
  pty/sim_ports.cpp pty/sim_ports.h)

# The serial port component (Qt Core).
set(RQ735_SERIAL_SOURCES
  serial/line_settings.cpp serial/line_settings.h
  serial/net_port.cpp serial/net_port.h
  serial/open_failure.cpp serial/open_failure.h
  serial/port_address.cpp serial/port_address.h
  serial/port_list.cpp serial/port_list.h
  serial/tcomm.cpp serial/tcomm.h
  serial/tcomm_workers.cpp serial/tcomm_workers.h
  serial/termios2_baud.cpp serial/termios2_baud.h)

# The window, its pages and pictures (Qt Widgets): everything of the program but main().
set(RQ735_APP_SOURCES
  app/comm_buffer.h
  app/conversions.cpp app/conversions.h
  app/error_display.cpp app/error_display.h
  app/frame_writer.cpp app/frame_writer.h
  app/hart_identity_store.h
  app/jpeg_image.cpp app/jpeg_image.h
  app/line_log.cpp app/line_log.h
  app/list_positions.cpp app/list_positions.h
  app/main_window.cpp app/main_window.h app/main_window.ui
  app/pictures.cpp
  app/port_open.cpp
  app/request_codes.h
  app/request_cycle.cpp app/request_cycle.h
  app/screen_place.cpp app/screen_place.h
  app/ttimer.cpp app/ttimer.h
  instrument/hart_link.cpp instrument/hart_link.h
  instrument/instrument_window.cpp instrument/instrument_window.h
  monitor/monitor_window.cpp monitor/monitor_window.h
  monitor/traffic_model.cpp monitor/traffic_model.h
  monitor/trend_chart.cpp monitor/trend_chart.h
  pages/hart/hart_page.cpp
  pages/modbus/modbus_page.cpp
  pages/system/system_page.cpp
  assets/assets.qrc)

# rq735ctl, without its main(): the module from the command line (Qt Core).
set(RQ735_CTL_SOURCES
  ctl/command_line.cpp ctl/command_line.h
  ctl/commands.cpp ctl/commands.h
  ctl/hart_session.cpp ctl/hart_session.h ctl/port_session.h
  ctl/module_line.cpp ctl/module_line.h
  ctl/settings.cpp ctl/settings.h)

# The simulated module, without its main().
set(RQ735_SIM_SOURCES
  sim/hart_instrument.cpp sim/hart_instrument.h
  sim/modbus_slave.cpp sim/modbus_slave.h
  sim/module.cpp sim/module.h)

# Gives each listed path its place under RQ735_ROOT.
function(rq735_sources out)
  list(TRANSFORM ARGN PREPEND "${RQ735_ROOT}/" OUTPUT_VARIABLE paths)
  set(${out} ${paths} PARENT_SCOPE)
endfunction()
