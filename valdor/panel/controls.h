// The numbers of the console's controls.  Every piece of the console names a
// control by its number; the main window (1000-1360) and the Device
// Information window (1370-1616) do not overlap, so one space serves both.
#pragma once

namespace valdor::ctl {

// Message box, progress, file name.
inline constexpr int MessageBox = 1000;
inline constexpr int ProgressBar = 1150;
inline constexpr int DownloadFileName = 1151;

// Right-hand column and other plain buttons.
inline constexpr int Exit = 1001;
inline constexpr int Clear = 1002;
inline constexpr int LoadData = 1003;
inline constexpr int SaveData = 1004;
inline constexpr int DownLoad = 1005;
inline constexpr int ComOpen = 1006;
inline constexpr int ComClose = 1007;
inline constexpr int LogAllClear = 1008;
inline constexpr int LogWithMsg = 1009;
inline constexpr int AcquireOpeLog = 1010;
inline constexpr int BillCountTransport = 1011;

// Command buttons.
inline constexpr int StatusRead = 1012;
inline constexpr int MechaReset = 1013;
inline constexpr int BillCount = 1014;
inline constexpr int BillCountFront = 1015;
inline constexpr int BillCountRear = 1016;
inline constexpr int BillTransport = 1017;
inline constexpr int BillRetrieval = 1018;
inline constexpr int Cancel = 1019;
inline constexpr int BillCountReject = 1020;
inline constexpr int LogReadClear = 1021;
inline constexpr int SensorTransition = 1022;
inline constexpr int OperationalLog = 1023;
inline constexpr int BillDiagnosis = 1024;
inline constexpr int DeviceInformation = 1025;
inline constexpr int FirstBlankButton = 1026;  // 1026-1031: no caption, never enabled
inline constexpr int LastBlankButton = 1031;

// Combo boxes of the "Bill Setting Information (mm)" group, per cassette 1-6.
inline constexpr int LengthL1 = 1100;    // 1100-1105
inline constexpr int LengthH1 = 1106;    // 1106-1111
inline constexpr int Thickness1 = 1112;  // 1112-1117
// "Bill Count" group, per cassette 1-6.
inline constexpr int BillsCount1 = 1118;   // 1118-1123
inline constexpr int RejectCount1 = 1124;  // 1124-1129
inline constexpr int PickRetry1 = 1130;    // 1130-1135
// Other combo boxes.
inline constexpr int LogMode = 1136;           // "Log Read/Clear"
inline constexpr int ComPort = 1137;           // "COM Port No."
inline constexpr int OplogP1 = 1138;           // "P1"
inline constexpr int OplogP2 = 1139;           // "P2"
inline constexpr int SpecialSpec = 1140;       // "Special specification"
inline constexpr int DiagnosisMode = 1141;     // "Bill Daignosis"
inline constexpr int DeviceInfoMode = 1142;    // "Device Information"
inline constexpr int DischargeAmount = 1143;   // "Discharge amount"

// Radio groups.
inline constexpr int TransportFirst = 1160;  // 1160-1167 "Bill Transport"
inline constexpr int TransportLast = 1167;
inline constexpr int RetrievalFirst = 1168;  // 1168-1171 "Bill Retrieval"
inline constexpr int RetrievalLast = 1171;

// Response text fields 1200-1235.
inline constexpr int Dh0Dh1 = 1200;
inline constexpr int ErrorCode = 1201;
inline constexpr int ErrorAddress = 1202;
inline constexpr int Version = 1203;
inline constexpr int Date = 1204;
inline constexpr int ErrorRegister = 1205;
inline constexpr int ErrorRegister2 = 1206;
inline constexpr int ErrorMessage = 1207;
inline constexpr int Counted1 = 1208;   // 1208-1213
inline constexpr int Rejected1 = 1214;  // 1214-1219
inline constexpr int LevelFdls1 = 1220; // 1220-1225
inline constexpr int LevelDfss = 1226;
inline constexpr int LevelBps = 1227;
inline constexpr int LevelRejs = 1228;
inline constexpr int LevelEjsr = 1229;
inline constexpr int LevelEjsf = 1230;
inline constexpr int LevelBrs3 = 1231;
inline constexpr int LevelBrs2 = 1232;
inline constexpr int LevelBrs1 = 1233;
inline constexpr int LevelDfcs = 1234;
inline constexpr int LevelBcs = 1235;
inline constexpr int FirstResponseField = 1200;
inline constexpr int LastResponseField = 1235;

// The one editable field ("Device Information" text, 40 characters).
inline constexpr int MessageText = 1236;
inline constexpr int MessageTextMax = 40;

// Check boxes the operator sets.
inline constexpr int Enhanced = 1240;            // "Enhanced request/response frame"
inline constexpr int ShowMessages = 1241;        // "Execution Message Display"
inline constexpr int ContinuousMode = 1242;      // "Command Continuous Mode"
inline constexpr int ShutterFront = 1243;        // toggle "Front"
inline constexpr int ShutterRear = 1244;         // toggle "Rear"
inline constexpr int SensorGridFirst = 1245;     // 1245-1274: cassette rows x NES,A,B,C,D
inline constexpr int SensorFrontEjs = 1275;      // 1275-1277 EJS, SOS, SCS of "<Front>"
inline constexpr int SensorRearEjs = 1278;       // 1278-1280 EJS, SOS, SCS of "<Rear>"
inline constexpr int SequenceFront = 1281;       // "<Front>" of the "<Q9RP>" group
inline constexpr int CountOrderReversing = 1282;
inline constexpr int MeasuredInf = 1351;         // "Measured inf"

// Indicators (disabled check boxes) 1283-1350 and 1352-1360.
inline constexpr int FirstIndicator = 1283;
inline constexpr int LastIndicator = 1360;
// Beside the sensor levels; the level fields are the Level... numbers above.
inline constexpr int Fdls1 = 1283;  // 1283-1288 FDLS1-FDLS6
inline constexpr int Dfss = 1289;
inline constexpr int Bps = 1290;
inline constexpr int Rejs = 1291;
inline constexpr int Ejsr = 1292;
inline constexpr int Ejsf = 1293;
inline constexpr int Brs3 = 1294;
inline constexpr int Brs2 = 1295;
inline constexpr int Brs1 = 1296;
inline constexpr int Bcs = 1352;  // DFCS has a level but no indicator
// Alarms and the unit's make-up, in two columns.
inline constexpr int Balm = 1297;
inline constexpr int Tus = 1298;
inline constexpr int Ths = 1299;
inline constexpr int Alarm = 1300;
inline constexpr int DfcsAlm = 1301;
inline constexpr int Unnote = 1302;
inline constexpr int SprayType = 1303;
inline constexpr int RearSpray = 1304;
inline constexpr int Spb7 = 1353;
inline constexpr int Spb6 = 1354;
inline constexpr int Inibl = 1355;
inline constexpr int Rejbl = 1356;
inline constexpr int Rtvbl = 1357;
inline constexpr int OptionSensor = 1358;
inline constexpr int RejectOption = 1359;  // beside the two-line label "Reject" / "Option"
inline constexpr int Rbst = 1360;
// "Front option" and "Rear option": numbered in two runs, not in the order shown.
inline constexpr int FrontOptAvailable = 1305;
inline constexpr int FrontOptCaptureBox = 1306;
inline constexpr int FrontOptSos = 1307;
inline constexpr int FrontOptScs = 1308;
inline constexpr int FrontOptRjb = 1309;
inline constexpr int RearOptAvailable = 1310;
inline constexpr int RearOptCaptureBox = 1311;
inline constexpr int RearOptSos = 1312;
inline constexpr int RearOptScs = 1313;
inline constexpr int RearOptRjb = 1314;
inline constexpr int FrontOptShutter = 1345;
inline constexpr int RearOptShutter = 1346;
inline constexpr int FrontOptShtMgOn = 1347;
inline constexpr int FrontOptShtOpn = 1348;
inline constexpr int RearOptShtMgOn = 1349;
inline constexpr int RearOptShtOpn = 1350;
// The cassette grid: rows Cst1-Cst6, columns NES, A, B, C, D.
inline constexpr int CstGridFirst = 1315;  // 1315 + 5*(cassette-1) + column
inline constexpr int CstGridLast = 1344;

// Device Information window.
inline constexpr int DevRowLabel1 = 1370;      // 1370-1382, + (r-1): the grid's row labels
inline constexpr int DevLogMessageLabel = 1383;
inline constexpr int DevHeading1 = 1384;       // 1384-1389, + (c-1): "1st Cassette" ...
inline constexpr int DevTitle = 1390;
inline constexpr int DevDiagnosisHeading = 1391;  // "Bill Diagnosis data"
inline constexpr int DevDenominationLabel = 1392;
inline constexpr int DevLengthLabel = 1393;
inline constexpr int DevThicknessLabel = 1394;
inline constexpr int DevReservationLabel = 1395;
inline constexpr int DevInformationHeading = 1396;  // "Device information"
inline constexpr int DevUserSettingLabel = 1397;
inline constexpr int DevCodeLabel = 1398;
inline constexpr int DevSettingHeading = 1399;      // "Device setting"
inline constexpr int DevGridFirst = 1500;     // 1500 + 13*(c-1) + (r-1)
inline constexpr int DevLogMessage = 1578;
inline constexpr int DevDenomination0 = 1578; // + c
inline constexpr int DevLength0 = 1584;       // + c
inline constexpr int DevThickness0 = 1590;    // + c
inline constexpr int DevReservation0 = 1596;  // + c
inline constexpr int DevUserSetting = 1603;
inline constexpr int DevCode1 = 1604;
inline constexpr int DevCode2 = 1605;
inline constexpr int DevCode3 = 1606;
inline constexpr int DevMaxSheets = 1607;
inline constexpr int DevMachineType = 1608;
inline constexpr int DevFrontOption = 1609;
inline constexpr int DevRearOption = 1610;
inline constexpr int DevJamRetry = 1611;
inline constexpr int DevBcsSensor = 1612;
inline constexpr int DevThicknessAdjust = 1613;
inline constexpr int DevCode4 = 1614;
inline constexpr int DevRomVersion = 1615;
inline constexpr int DevRejectOption = 1616;
inline constexpr int FirstDeviceControl = 1370;
inline constexpr int LastDeviceControl = 1616;

constexpr bool isDeviceControl(int id) { return id >= FirstDeviceControl && id <= LastDeviceControl; }
constexpr bool isIndicator(int id) { return id >= FirstIndicator && id <= LastIndicator && id != MeasuredInf; }

}  // namespace valdor::ctl
