-- Wireshark dissector for captures of the bill dispenser unit's line,
-- exported with `valdor --export-pcap CAPTURE OUT.pcap` (link type USER0,
-- 147).  Each packet is one burst: a direction byte (0 host to unit, 1 unit
-- to host), then the bytes as they went.  Shows the control pairs, the text
-- frames with their CRC-16/KERMIT check code (good or bad), the request's
-- command name and the response's DH0, DH1, error code and error text.
--
--   tshark -X lua_script:tools/wireshark/rslink.lua -r capture.pcap -V
--   tshark ... -Y rslink.crc.bad        frames with a bad check code
--
-- Or copy it into Wireshark's personal plugins folder.
--
-- A pair or a frame split over several bursts (a slow adapter hands the
-- bytes over a few at a time) is shown whole in the packet that completes
-- it, in a "Reassembled" tab; the packets before it say it continues.

local p = Proto("rslink", "Bill dispenser unit line")

local DLE, STX, ETX, ENQ, ACK, NAK = 0x10, 0x02, 0x03, 0x05, 0x06, 0x15

local directions = { [0] = "host to unit", [1] = "unit to host" }
local controls = { [ENQ] = "DLE ENQ", [ACK] = "DLE ACK", [NAK] = "DLE NAK" }

local f = {
    direction = ProtoField.uint8("rslink.direction", "Direction", base.DEC, directions),
    control = ProtoField.uint8("rslink.control", "Control pair", base.HEX, controls),
    frame = ProtoField.bytes("rslink.frame", "Text frame"),
    length = ProtoField.uint16("rslink.length", "Text length", base.DEC),
    text = ProtoField.bytes("rslink.text", "Text", base.SPACE),
    crc = ProtoField.uint16("rslink.crc", "Check code", base.HEX),
    crc_computed = ProtoField.uint16("rslink.crc.computed", "Check code computed", base.HEX),
    crc_status = ProtoField.string("rslink.crc.status", "Check code status"),
    crc_bad = ProtoField.bool("rslink.crc.bad", "Bad check code"),
    command = ProtoField.string("rslink.command", "Request"),
    command_code = ProtoField.uint8("rslink.command.code", "Command code", base.HEX),
    dh0 = ProtoField.uint8("rslink.dh0", "DH0 (response code)", base.HEX),
    dh1 = ProtoField.uint8("rslink.dh1", "DH1 (command code answered)", base.HEX),
    error = ProtoField.uint16("rslink.error", "Error code", base.HEX),
    error_text = ProtoField.string("rslink.error.text", "Error text"),
    noise = ProtoField.bytes("rslink.noise", "Noise", base.SPACE),
    partial = ProtoField.bytes("rslink.partial", "Incomplete frame", base.SPACE),
    continues = ProtoField.bytes("rslink.continues", "Continued in a later packet", base.SPACE),
    carried = ProtoField.uint16("rslink.carried", "Bytes carried over from earlier packets", base.DEC),
}
p.fields = f

local bad_crc = ProtoExpert.new("rslink.crc.bad.expert", "Bad check code",
                                expert.group.CHECKSUM, expert.severity.WARN)
p.experts = { bad_crc }

local requests = {
    [0x01] = "Status read",
    [0x02] = "Mechanical reset with bill settings",
    [0x03] = "Bill count",
    [0x05] = "Bill transport",
    [0x06] = "Bill retrieval",
    [0x09] = "Bill count, front",
    [0x0A] = "Bill count, rear",
    [0x0E] = "Device information",
    [0x0F] = "Bill diagnosis",
    [0x10] = "Cancel",
    [0x11] = "Bill count, reject",
    [0x12] = "Log read/clear, with optional message",
    [0x13] = "Operational log",
    [0x14] = "Sensor transition",
    [0xD1] = "Download data",
    [0xD2] = "Download end",
    [0xD4] = "Download time",
}

-- The unit's error catalogue, in lookup order: kind 1 matches the main code
-- alone, kind 2 main code and sub-code; kind 0 ends the table and answers
-- every other code.  A test keeps it equal to the console's table.
local errors = {
    {2, 0x0000, "Normal end"},
    {2, 0x0301, "Internal error 1"},
    {2, 0x0302, "Internal error 2"},
    {1, 0x0400, "Internal error 3"},
    {2, 0x1000, "No 1st Cassette"},
    {2, 0x1100, "1st cassette empty"},
    {2, 0x1200, "1st cassette diagnosis data none"},
    {2, 0x1201, "1st cassette denomination differs"},
    {2, 0x1202, "1st cassette:The reference value of length cannot be fixed"},
    {2, 0x1203, "1st cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x1204, "1st cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x1205, "1st cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x1400, "No 5th Cassette"},
    {2, 0x1500, "5th cassette empty"},
    {2, 0x1600, "5th cassette diagnosis data none"},
    {2, 0x1601, "5th cassette denomination differs"},
    {2, 0x1602, "5th cassette:The reference value of length cannot be fixed"},
    {2, 0x1603, "5th cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x1604, "5th cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x1605, "5th cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x1800, "1st Cassette pick error"},
    {2, 0x1C00, "5th Cassette pick error"},
    {2, 0x2000, "No 2nd Cassette"},
    {2, 0x2100, "2nd cassette empty"},
    {2, 0x2200, "2nd cassette diagnosis data none"},
    {2, 0x2201, "2nd cassette denomination differs"},
    {2, 0x2202, "2nd cassette:The reference value of length cannot be fixed"},
    {2, 0x2203, "2nd cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x2204, "2nd cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x2205, "2nd cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x2400, "No 6th Cassette"},
    {2, 0x2500, "6th cassette empty"},
    {2, 0x2600, "6th cassette diagnosis data none"},
    {2, 0x2601, "6th cassette denomination differs"},
    {2, 0x2602, "6th cassette:The reference value of length cannot be fixed"},
    {2, 0x2603, "6th cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x2604, "6th cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x2605, "6th cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x2800, "2nd Cassette pick error"},
    {2, 0x2C00, "6th Cassette pick error"},
    {2, 0x3000, "No 3rd Cassette"},
    {2, 0x3100, "3rd cassette empty"},
    {2, 0x3200, "3rd cassette diagnosis data none"},
    {2, 0x3201, "3rd cassette denomination differs"},
    {2, 0x3202, "3rd cassette:The reference value of length cannot be fixed"},
    {2, 0x3203, "3rd cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x3204, "3rd cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x3205, "3rd cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x3400, "No 7th Cassette"},
    {2, 0x3500, "7th cassette empty"},
    {2, 0x3600, "7th cassette diagnosis data none"},
    {2, 0x3601, "7th cassette denomination differs"},
    {2, 0x3602, "7th cassette:The reference value of length cannot be fixed"},
    {2, 0x3603, "7th cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x3604, "7th cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x3605, "7th cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x3800, "3rd Cassette pick error"},
    {2, 0x3C00, "(7th Cassette pick error)"},
    {2, 0x4000, "No 4th Cassette"},
    {2, 0x4100, "4th cassette empty"},
    {2, 0x4200, "4th cassette diagnosis data none"},
    {2, 0x4201, "4th cassette denomination differs"},
    {2, 0x4202, "4th cassette:The reference value of length cannot be fixed"},
    {2, 0x4203, "4th cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x4204, "4th cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x4205, "4th cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x4400, "No 8th Cassette"},
    {2, 0x4500, "8th cassette empty"},
    {2, 0x4600, "8th cassette diagnosis data none"},
    {2, 0x4601, "8th cassette denomination differs"},
    {2, 0x4602, "8th cassette:The reference value of length cannot be fixed"},
    {2, 0x4603, "8th cassette:The reference value of the thickness cannot be fixed"},
    {2, 0x4604, "8th cassette:The length diagnosis result is outside a regulated range"},
    {2, 0x4605, "8th cassette:The thickness diagnosis result is outside a regulated range(0.09mm - 0.15mm)"},
    {2, 0x4800, "4th Cassette pick error"},
    {2, 0x4C00, "(8th Cassette pick error)"},
    {2, 0x5000, "Home position error of the pool section"},
    {2, 0x5001, "Pool section lowering retry over"},
    {2, 0x5100, "Upper position error of the pool section"},
    {2, 0x5102, "Pool section lifting retry over"},
    {1, 0x5200, "No medium in the pool section"},
    {2, 0x7001, "Medium remaining at FDLS1"},
    {2, 0x7002, "Medium remaining at FDLS2"},
    {2, 0x7003, "Medium remaining at FDLS3"},
    {2, 0x7004, "Medium remaining at FDLS4"},
    {2, 0x7005, "Medium remaining at FDLS5"},
    {2, 0x7006, "Medium remaining at FDLS6"},
    {2, 0x7007, "(Medium remaining at FDLS7)"},
    {2, 0x7008, "(Medium remaining at FDLS8)"},
    {2, 0x7009, "Medium remaining at DFSS"},
    {2, 0x700A, "(Medium remaining at REJS)"},
    {2, 0x700B, "Medium remaining at BPS"},
    {2, 0x700C, "Medium remaining at BRS1"},
    {2, 0x700D, "Medium remaining at BRS2"},
    {2, 0x700E, "Medium remaining at BRS3"},
    {2, 0x700F, "Medium remaining at EJSF"},
    {2, 0x7010, "Medium remaining at EJSR"},
    {2, 0x7600, "The bill on EJSF was pulled out besides the unit during bill retrieval"},
    {2, 0x7601, "The bill on EJSR was pulled out besides the unit during bill retrieval"},
    {2, 0x7801, "JAM occurred on FDLS1"},
    {2, 0x7802, "JAM occurred on FDLS2"},
    {2, 0x7803, "JAM occurred on FDLS3"},
    {2, 0x7804, "JAM occurred on FDLS4"},
    {2, 0x7805, "JAM occurred on FDLS5"},
    {2, 0x7806, "JAM occurred on FDLS6"},
    {2, 0x7807, "(JAM occurred on FDLS7)"},
    {2, 0x7808, "(JAM occurred on FDLS8)"},
    {2, 0x7811, "JAM occurred between FDLS1 and DFSS"},
    {2, 0x7812, "JAM occurred between FDLS2 and DFSS"},
    {2, 0x7813, "JAM occurred between FDLS3 and DFSS"},
    {2, 0x7814, "JAM occurred between FDLS4 and DFSS"},
    {2, 0x7815, "JAM occurred between FDLS5 and DFSS"},
    {2, 0x7816, "JAM occurred between FDLS6 and DFSS"},
    {2, 0x7817, "(JAM occurred between FDLS7 and DFSS)"},
    {2, 0x7818, "(JAM occurred between FDLS8 and DFSS)"},
    {2, 0x7821, "FDLS1 medium remaining after completion of count"},
    {2, 0x7822, "FDLS2 medium remaining after completion of count"},
    {2, 0x7823, "FDLS3 medium remaining after completion of count"},
    {2, 0x7824, "FDLS4 medium remaining after completion of count"},
    {2, 0x7825, "FDLS5 medium remaining after completion of count"},
    {2, 0x7826, "FDLS6 medium remaining after completion of count"},
    {2, 0x7827, "(FDLS7 medium remaining after completion of count)"},
    {2, 0x7828, "(FDLS8 medium remaining after completion of count)"},
    {2, 0x7831, "FDLS1 medium remaining after completion of cleaning JAM"},
    {2, 0x7832, "FDLS2 medium remaining after completion of cleaning JAM"},
    {2, 0x7833, "FDLS3 medium remaining after completion of cleaning JAM"},
    {2, 0x7834, "FDLS4 medium remaining after completion of cleaning JAM"},
    {2, 0x7835, "FDLS5 medium remaining after completion of cleaning JAM"},
    {2, 0x7836, "FDLS6 medium remaining after completion of cleaning JAM"},
    {2, 0x7837, "(FDLS7 medium remaining after completion of cleaning JAM)"},
    {2, 0x7838, "(FDLS8 medium remaining after completion of cleaning JAM)"},
    {2, 0x7841, "FDLS1 was turned on when there was no bill"},
    {2, 0x7842, "FDLS2 was turned on when there was no bill"},
    {2, 0x7843, "FDLS3 was turned on when there was no bill"},
    {2, 0x7844, "FDLS4 was turned on when there was no bill"},
    {2, 0x7845, "FDLS5 was turned on when there was no bill"},
    {2, 0x7846, "FDLS6 was turned on when there was no bill"},
    {2, 0x7847, "(FDLS7 was turned on when there was no bill)"},
    {2, 0x7848, "(FDLS8 was turned on when there was no bill)"},
    {2, 0x7A01, "JAM occurred on DFSS"},
    {2, 0x7A02, "JAM occurred between DFSS and BPS"},
    {2, 0x7A03, "JAM occurred on BPS"},
    {2, 0x7A29, "DFSS medium remaining after completion of count"},
    {2, 0x7A2A, "BPS medium remaining after completion of count"},
    {2, 0x7A39, "DFSS medium remaining after completion of cleaning JAM"},
    {2, 0x7A3A, "BPS medium remaining after completion of cleaning JAM"},
    {2, 0x7A49, "DFSS was turned on when there was no bill"},
    {2, 0x7B01, "JAM occurred between DFSS and REJS"},
    {2, 0x7B4B, "REJS was turned on when there was no bill"},
    {2, 0x7C01, "Jam occurred between pool section and EJSF"},
    {2, 0x7C02, "Jam occurred between pool section and EJSR"},
    {2, 0x7C03, "The bill was detected at the same time with EJSF and BRS2 while transporting the bill"},
    {2, 0x7C04, "The bill was detected at the same time with EJSF and BRS1 while transporting the bill"},
    {2, 0x7C05, "The bill was detected at the same time with EJSR and BRS3 while transporting the bill"},
    {2, 0x7C06, "The bill was detected at the same time with EJSR and BRS1 while transporting the bill"},
    {2, 0x7C07, "The bill was detected at the same time with EJSR and BRS2 while transporting the bill"},
    {2, 0x7C2C, "EJSF medium remaining after completion of count"},
    {2, 0x7C2D, "EJSR medium remaining after completion of count"},
    {2, 0x7C3C, "EJSF medium remaining after completion of cleaning JAM"},
    {2, 0x7C3D, "EJSR medium remaining after completion of cleaning JAM"},
    {2, 0x7C80, "EJSF was turned on during transfer motor rotation before the mechanical reset operation and feed operation of the bill count command"},
    {2, 0x7C81, "EJSR was turned on during transfer motor rotation before the mechanical reset operation and feed operation of the bill count command"},
    {2, 0x7D01, "Jam occurred between EJSF and pool section"},
    {2, 0x7D02, "Jam occurred between EJSR and pool section"},
    {2, 0x7D11, "Jam occurred between pool section and EJSR (Front Retrieval)"},
    {2, 0x7D12, "Jam occurred between pool section and EJSF (Rear Retrieval)"},
    {2, 0x8200, "Long bill"},
    {2, 0x8300, "Short bill"},
    {2, 0x8400, "Thickness abnormal"},
    {2, 0x8501, "Pick from another safe (1st cassette)"},
    {2, 0x8502, "Pick from another safe (2nd cassette)"},
    {2, 0x8503, "Pick from another safe (3rd cassette)"},
    {2, 0x8504, "Pick from another safe (4th cassette)"},
    {2, 0x8505, "Pick from another safe (5th cassette)"},
    {2, 0x8506, "Pick from another safe (6th cassette)"},
    {2, 0x8600, "Spacing between picking bills in less than the specified value"},
    {2, 0x8800, "Count inconsistency(Number of requested notes = number of notes identified as normal = number of notes that passed through BPS does not hold)"},
    {2, 0x8801, "Count inconsistency(BPS was turned ON when there was no bill)"},
    {2, 0x8803, "Count mismatch(Medium passed through BPS while clearing a jam)"},
    {1, 0x8900, "Potentiometer error"},
    {2, 0xA100, "(Front) Shutter open error (SCSF does not change)"},
    {2, 0xA101, "(Front) Shutter open error (SOSF does not change)"},
    {2, 0xA102, "(Front) Shutter open error (Simultaneous sensor detection)"},
    {2, 0xA200, "(Front) Shutter close error (SOSF does not change)"},
    {2, 0xA201, "(Front) Shutter close error (SCSF does not change)"},
    {2, 0xA202, "(Front) Shutter close error (Simultaneous sensor detection)"},
    {1, 0xA400, "(Front) No medium in the ejection section"},
    {1, 0xA700, "(Front) Open shutter"},
    {2, 0xA900, "(Rear) Shutter open error (SCSR does not change)"},
    {2, 0xA901, "(Rear) Shutter open error (SOSR does not change)"},
    {2, 0xA902, "(Rear) Shutter open error (Simultaneous sensor detection)"},
    {2, 0xAA00, "(Rear) Shutter close error (SOSR does not change)"},
    {2, 0xAA01, "(Rear) Shutter close error (SCSR does not change)"},
    {2, 0xAA02, "(Rear) Shutter close error (Simultaneous sensor detection)"},
    {1, 0xAC00, "(Rear) No medium in the ejection section"},
    {1, 0xAF00, "(Rear) Open shutter"},
    {1, 0xB000, "Reject box (option) is no set"},
    {1, 0xB500, "Reject box was full"},
    {1, 0xB800, "(Front) Capture box (option) is no setup"},
    {1, 0xB900, "(Front) Capture box is no set"},
    {1, 0xBA00, "(Front) Capture box was full"},
    {1, 0xBC00, "(Rear) Capture box (option) is no setup"},
    {1, 0xBD00, "(Rear) Capture box is no set"},
    {1, 0xBE00, "(Rear) Capture box was full"},
    {2, 0xC000, "Received D level command during RAS mode"},
    {2, 0xC001, "Received 'LE' during executing RAM program"},
    {2, 0xC002, "Received 'LE' before receiving 'LD' command"},
    {2, 0xC100, "After receiving the 'RT', a loss in the download program"},
    {2, 0xC101, "Flash ROM write error"},
    {2, 0xC102, "Sum check error of program load"},
    {2, 0xC103, "After receiving the 'RT', version error"},
    {2, 0xC104, "Flash ROM erase error"},
    {2, 0xC105, "File name error of control area format"},
    {2, 0xC106, "Data size error of control area format"},
    {2, 0xC201, "BD received the command excluding 'RT', 'LD', and 'LE'"},
    {2, 0xC301, "Download header error (D-Code is not '00')"},
    {2, 0xC302, "Download header error (E-Code is not '1' or 'H')"},
    {2, 0xC303, "Block number error (D-code is 'LD')"},
    {2, 0xC304, "Data length error"},
    {2, 0xE000, "RAS command undefined"},
    {2, 0xE100, "An attempt was mode to execute a count system request for device's initialization, although no bill information was registered"},
    {2, 0xE401, "Bill information not provided. (1st cassette)"},
    {2, 0xE402, "Bill information not provided. (2nd cassette)"},
    {2, 0xE403, "Bill information not provided. (3rd cassette)"},
    {2, 0xE404, "Bill information not provided. (4th cassette)"},
    {2, 0xE405, "Bill information not provided. (5th cassette)"},
    {2, 0xE406, "Bill information not provided. (6th cassette)"},
    {2, 0xE501, "Count sequence specification error"},
    {1, 0xE500, "Specification error of total number of notes"},
    {1, 0xE600, "Parameter ISO code error"},
    {1, 0xE800, "Note length/thickness information error"},
    {1, 0xEA00, "Parameter error"},
    {1, 0xEC00, "FS error"},
    {1, 0xEE00, "Command format error"},
    {1, 0xEF00, "Command execution is impossible (Pool section is no setup)"},
    {2, 0xF100, "Over current error"},
    {1, 0xF200, "Option setup is unusual"},
    {1, 0xF300, "(Front) Option setup is unusual"},
    {1, 0xF400, "(Rear) Option setup is unusual"},
    {1, 0xF600, "Log data check sum error"},
    {2, 0xF801, "Sensor slice level error of FDLS1"},
    {2, 0xF802, "Sensor slice level error of FDLS2"},
    {2, 0xF803, "Sensor slice level error of FDLS3"},
    {2, 0xF804, "Sensor slice level error of FDLS4"},
    {2, 0xF805, "Sensor slice level error of FDLS5"},
    {2, 0xF806, "Sensor slice level error of FDLS6"},
    {2, 0xF807, "Sensor slice level error of DFSS"},
    {2, 0xF808, "Sensor slice level error of REJS"},
    {2, 0xF809, "Sensor slice level error of BPS"},
    {2, 0xF80A, "Sensor slice level error of BRS1"},
    {2, 0xF80B, "Sensor slice level error of BRS2"},
    {2, 0xF80C, "Sensor slice level error of BRS3"},
    {2, 0xF80D, "Sensor slice level error of EJSR"},
    {2, 0xF80E, "Sensor slice level error of EJSF"},
    {2, 0xF80F, "Sensor slice level error of BCS"},
    {2, 0xF881, "Sensor-off check error of FDLS1"},
    {2, 0xF882, "Sensor-off check error of FDLS2"},
    {2, 0xF883, "Sensor-off check error of FDLS3"},
    {2, 0xF884, "Sensor-off check error of FDLS4"},
    {2, 0xF885, "Sensor-off check error of FDLS5"},
    {2, 0xF886, "Sensor-off check error of FDLS6"},
    {2, 0xF887, "Sensor-off check error of DFSS"},
    {2, 0xF888, "Sensor-off check error of REJS"},
    {2, 0xF889, "Sensor-off check error of BPS"},
    {2, 0xF88A, "Sensor-off check error of BRS1"},
    {2, 0xF88B, "Sensor-off check error of BRS2"},
    {2, 0xF88C, "Sensor-off check error of BRS3"},
    {2, 0xF88D, "Sensor-off check error of EJSR"},
    {2, 0xF88E, "Sensor-off check error of EJSF"},
    {2, 0xF88F, "Sensor-off check error of BCS"},
    {2, 0xF8A1, "Sensor-on check error of FDLS1"},
    {2, 0xF8A2, "Sensor-on check error of FDLS2"},
    {2, 0xF8A3, "Sensor-on check error of FDLS3"},
    {2, 0xF8A4, "Sensor-on check error of FDLS4"},
    {2, 0xF8A5, "Sensor-on check error of FDLS5"},
    {2, 0xF8A6, "Sensor-on check error of FDLS6"},
    {2, 0xF8A7, "Sensor-on check error of DFSS"},
    {2, 0xF8A8, "Sensor-on check error of REJS"},
    {2, 0xF8A9, "Sensor-on check error of BPS"},
    {2, 0xF8AA, "Sensor-on check error of BRS1"},
    {2, 0xF8AB, "Sensor-on check error of BRS2"},
    {2, 0xF8AC, "Sensor-on check error of BRS3"},
    {2, 0xF8AD, "Sensor-on check error of EJSR"},
    {2, 0xF8AE, "Sensor-on check error of EJSF"},
    {2, 0xF8AF, "Sensor-on check error of BCS"},
    {2, 0xF8F0, "Sensor level write DAC error"},
    {2, 0xFC00, "<Q9RS>Illegal operation due to non-notification of data"},
    {2, 0xFD00, "<Q9RS>Power off during count"},
    {0, 0xFFFF, "See Q9R ERROR CODE LIST"},
}

local function error_text(main, sub)
    for _, e in ipairs(errors) do
        local kind, code, text = e[1], e[2], e[3]
        if kind == 0 then return text end
        if kind == 1 and bit32.rshift(code, 8) == main then return text end
        if kind == 2 and code == main * 256 + sub then return text end
    end
    return errors[#errors][3]
end

-- CRC-16/KERMIT: polynomial 0x1021 taken least significant bit first.
local function crc16(tvb, offset, length)
    local crc = 0
    for i = offset, offset + length - 1 do
        local byte = tvb(i, 1):uint()
        for _ = 1, 8 do
            if bit32.band(bit32.bxor(crc, byte), 1) ~= 0 then
                crc = bit32.bxor(bit32.rshift(crc, 1), 0x8408)
            else
                crc = bit32.rshift(crc, 1)
            end
            byte = bit32.rshift(byte, 1)
        end
    end
    return crc
end

local function request_name(text)
    if text:len() < 2 then return nil end
    local lead, code = text(0, 1):uint(), text(1, 1):uint()
    if lead == 0x60 or (lead == 0x00 and text:len() == 3 and text(2, 1):uint() == 0x1C) then
        return requests[code], code
    end
    return nil
end

local function show_text(tree, text, from_host)
    if from_host then
        local name, code = request_name(text)
        if name then
            tree:add(f.command, text(1, 1), name)
            tree:add(f.command_code, text(1, 1))
        end
        return name
    end
    if text:len() < 2 then return nil end
    tree:add(f.dh0, text(0, 1))
    tree:add(f.dh1, text(1, 1))
    local at = 3
    if text:len() > 2 and text(2, 1):uint() == 0xFF then at = 6 end
    local main = at < text:len() and text(at, 1):uint() or 0
    local sub = at + 1 < text:len() and text(at + 1, 1):uint() or 0
    if at + 1 < text:len() then
        tree:add(f.error, text(at, 2))
    end
    local message = error_text(main, sub)
    tree:add(f.error_text, message)
    return string.format("DH0 %02X DH1 %02X %s", text(0, 1):uint(), text(1, 1):uint(), message)
end

-- What a packet left unfinished, per direction, on the first pass in file
-- order; and for each packet what it took over, so that a later pass (a
-- click in the window) shows it the same way.  A frame longer than any the
-- line carries is not waited for: it is shown as incomplete.
local MOST_CARRIED = 2048
local carry = { [0] = "", [1] = "" }
local carried_in = {}

function p.init()
    carry = { [0] = "", [1] = "" }
    carried_in = {}
end

function p.dissector(tvb, pinfo, root)
    if tvb:len() < 1 then return 0 end
    pinfo.cols.protocol = "RSLINK"
    local tree = root:add(p, tvb())
    local dir = tvb(0, 1):uint()
    tree:add(f.direction, tvb(0, 1))
    local from_host = dir == 0
    pinfo.cols.src = from_host and "host" or "unit"
    pinfo.cols.dst = from_host and "unit" or "host"

    local before
    if pinfo.visited then
        before = carried_in[pinfo.number] or ""
    else
        before = carry[dir] or ""
        carried_in[pinfo.number] = before
    end
    local data, i = tvb, 1
    if #before > 0 then
        local bytes = ByteArray.new(before, true)
        if tvb:len() > 1 then bytes = bytes .. tvb(1):bytes() end
        data, i = bytes:tvb("Reassembled"), 0
        tree:add(f.carried, #before):set_generated()
    end
    local n = data:len()
    local left = nil  -- where an unfinished pair or frame starts

    local info = {}
    local noise_from = nil
    local function end_noise(upto)
        if noise_from and upto > noise_from then
            tree:add(f.noise, data(noise_from, upto - noise_from))
            info[#info + 1] = "noise"
        end
        noise_from = nil
    end
    while i < n do
        local b = data(i, 1):uint()
        local nxt = i + 1 < n and data(i + 1, 1):uint() or nil
        if b == DLE and nxt == nil then
            end_noise(i)
            left = i
            i = n
        elseif b == DLE and controls[nxt] then
            end_noise(i)
            tree:add(f.control, data(i + 1, 1)):set_text(controls[nxt])
            info[#info + 1] = controls[nxt]
            i = i + 2
        elseif b == DLE and nxt == STX and i + 4 > n then
            end_noise(i)
            left = i
            i = n
        elseif b == DLE and nxt == STX then
            end_noise(i)
            local len = data(i + 2, 2):uint()
            local total = len + 8
            if i + total > n and total <= MOST_CARRIED then
                left = i
                i = n
            elseif i + total > n or data(i + 4 + len, 1):uint() ~= DLE or data(i + 5 + len, 1):uint() ~= ETX then
                tree:add(f.partial, data(i, n - i))
                info[#info + 1] = "incomplete frame"
                i = n
            else
                local ft = tree:add(f.frame, data(i, total))
                ft:set_text(string.format("Text frame, %d bytes of text", len))
                ft:add(f.length, data(i + 2, 2))
                local text = len > 0 and data(i + 4, len) or nil
                if text then ft:add(f.text, text) end
                local got = data(i + 6 + len, 2):le_uint()
                local want = crc16(data, i + 2, len + 4)
                ft:add_le(f.crc, data(i + 6 + len, 2))
                ft:add(f.crc_computed, want):set_generated()
                local good = got == want
                ft:add(f.crc_status, good and "good" or "bad"):set_generated()
                -- Present only on a bad frame, so that the filter
                -- "rslink.crc.bad" finds exactly those.
                if not good then
                    ft:add(f.crc_bad, true):set_generated():add_proto_expert_info(bad_crc)
                end
                local what = text and show_text(ft, text, from_host) or nil
                info[#info + 1] = (what or "frame") .. (good and "" or " [BAD CHECK CODE]")
                i = i + total
            end
        else
            if not noise_from then noise_from = i end
            i = i + 1
        end
    end
    end_noise(left or n)
    if left then
        tree:add(f.continues, data(left, n - left))
        info[#info + 1] = "continued in a later packet"
    end
    if not pinfo.visited then
        carry[dir] = left and data(left, n - left):raw() or ""
    end
    pinfo.cols.info = table.concat(info, ", ")
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, p)
