' A script's use of the voice through automation, run by Wine's cscript: prints what it got, one
' "name: value" a line; engine_server_test.sh checks the values.
Option Explicit
Dim voice, voices, english, token, counted, status
Set voice = CreateObject("SAPI.SpVoice")
WScript.Echo "type: " & TypeName(voice)
voice.Rate = 3
WScript.Echo "rate: " & voice.Rate
voice.Volume = 80
WScript.Echo "volume: " & voice.Volume
On Error Resume Next
voice.Volume = 101
WScript.Echo "volume 101: " & Hex(Err.Number)
Err.Clear
On Error GoTo 0
Set voices = voice.GetVoices
WScript.Echo "voices: " & voices.Count
counted = 0
For Each token In voices
  counted = counted + 1
Next
WScript.Echo "for each: " & counted
Set english = voice.GetVoices("Language=409", "")
WScript.Echo "english: " & english.Count
Set voice.Voice = english.Item(0)
WScript.Echo "voice: " & voice.Voice.GetDescription
WScript.Echo "voice language: " & voice.Voice.GetAttribute("Language")
WScript.Echo "data key: " & voice.Voice.DataKey.GetStringValue("")
WScript.Echo "category: " & voice.Voice.Category.Id
WScript.Echo "audio output: " & voice.AudioOutput.Id
WScript.Echo "no output stream: " & (voice.AudioOutputStream Is Nothing)
Set voice.AudioOutput = voice.AudioOutput
WScript.Echo "audio output chosen: " & voice.AudioOutput.Id
voice.Speak WScript.Arguments(0)
Set status = voice.Status
WScript.Echo "running state: " & status.RunningState
WScript.Echo "last stream: " & status.LastStreamNumberQueued
